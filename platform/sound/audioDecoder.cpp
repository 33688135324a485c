// libmpg123 over bytes in memory, fixed to the output format.
#include "platform/sound/audioDecoder.h"

#include <mpg123.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <mutex>

#include "platform/store/pathResolver.h"

namespace {

// Longer lengths than this (about 13 hours) come from broken indexes, not from music.
constexpr int64_t longestTrustedLength = int64_t{1} << 31;

void initialiseLibraryOnce() {
    static std::once_flag once;
    std::call_once(once, [] { mpg123_init(); });
}

ssize_t readFromSource(void* sourcePointer, void* buffer, size_t count) {
    auto& source = *static_cast<TmpegDecoder::Tsource*>(sourcePointer);
    const size_t available = source.bytes.size() - std::min(source.offset, source.bytes.size());
    const size_t taken = std::min(count, available);
    if (taken > 0) std::memcpy(buffer, source.bytes.data() + source.offset, taken);
    source.offset += taken;
    return static_cast<ssize_t>(taken);
}

off_t seekInSource(void* sourcePointer, off_t offset, int whence) {
    auto& source = *static_cast<TmpegDecoder::Tsource*>(sourcePointer);
    off_t base = 0;
    if (whence == SEEK_CUR) base = static_cast<off_t>(source.offset);
    else if (whence == SEEK_END) base = static_cast<off_t>(source.bytes.size());
    const off_t target = base + offset;
    if (target < 0 || target > static_cast<off_t>(source.bytes.size())) return -1;
    source.offset = static_cast<size_t>(target);
    return target;
}

}  // namespace

TmpegDecoder::TmpegDecoder(std::vector<uint8_t> fileBytes) {
    source.bytes = std::move(fileBytes);
    if (source.bytes.empty()) return;
    initialiseLibraryOnce();
    if (!openHandle() || !hasOutputFormat()) {
        if (handle) mpg123_delete(handle);
        handle = nullptr;
        return;
    }
    // The scan reads every frame header: the exact length (with the encoder's gapless
    // information) and an index that makes seeking sample-accurate.
    mpg123_scan(handle);
    const off_t length = mpg123_length(handle);
    indexedLength = length > 0 ? std::min<int64_t>(length, longestTrustedLength) : 0;
}

TmpegDecoder::~TmpegDecoder() {
    if (handle) mpg123_delete(handle);
}

bool TmpegDecoder::openHandle() {
    int error = MPG123_OK;
    handle = mpg123_new(nullptr, &error);
    if (!handle) return false;
    mpg123_param(handle, MPG123_ADD_FLAGS, MPG123_GAPLESS | MPG123_FORCE_STEREO | MPG123_QUIET, 0.0);
    mpg123_param(handle, MPG123_REMOVE_FLAGS, MPG123_IGNORE_INFOFRAME, 0.0);
    // Only the output format is allowed, so any other rate goes through the library's resampler.
    mpg123_format_none(handle);
    if (mpg123_format(handle, audioRate, MPG123_STEREO, MPG123_ENC_SIGNED_16) != MPG123_OK) return false;
    if (mpg123_replace_reader_handle(handle, readFromSource, seekInSource, nullptr) != MPG123_OK) return false;
    return mpg123_open_handle(handle, &source) == MPG123_OK;
}

bool TmpegDecoder::hasOutputFormat() {
    long rate = 0;
    int channels = 0;
    int encoding = 0;
    if (mpg123_getformat(handle, &rate, &channels, &encoding) != MPG123_OK) return false;
    return rate == audioRate && channels == MPG123_STEREO && encoding == MPG123_ENC_SIGNED_16;
}

size_t TmpegDecoder::read(int16_t* out, size_t frameCount) {
    if (!handle || ended) return 0;
    constexpr size_t frameBytes = sizeof(int16_t) * audioChannels;
    auto* bytes = reinterpret_cast<unsigned char*>(out);
    size_t filled = 0;
    while (filled < frameCount * frameBytes) {
        size_t done = 0;
        const int result = mpg123_read(handle, bytes + filled, frameCount * frameBytes - filled, &done);
        filled += done;
        if (result == MPG123_NEW_FORMAT) {
            if (!hasOutputFormat()) break;
            continue;
        }
        if (result != MPG123_OK) break;
        if (done == 0) break;
    }
    const size_t frames = filled / frameBytes;
    if (frames < frameCount) ended = true;
    return frames;
}

bool TmpegDecoder::seek(int64_t frame) {
    if (!handle) return false;
    ended = false;
    const off_t reached = mpg123_seek(handle, static_cast<off_t>(std::max<int64_t>(frame, 0)), SEEK_SET);
    if (reached < 0) {
        ended = true;
        return false;
    }
    return true;
}

bool readWholeFile(const std::string& path, std::vector<uint8_t>& bytes) {
    const std::string resolved = resolvePath(path);
    std::error_code error;
    if (!std::filesystem::is_regular_file(resolved, error)) return false;
    std::ifstream file(resolved, std::ios::binary);
    if (!file) return false;
    bytes.assign(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
    return !file.bad();
}

std::vector<int16_t> decodeWholeMp3(std::vector<uint8_t> fileBytes, size_t maxFrames) {
    TmpegDecoder decoder(std::move(fileBytes));
    std::vector<int16_t> frames;
    if (!decoder.valid()) return frames;
    constexpr size_t piece = 4096;
    while (!decoder.atEnd() && frames.size() / audioChannels < maxFrames) {
        const size_t before = frames.size();
        const size_t wanted = std::min(piece, maxFrames - before / audioChannels);
        frames.resize(before + wanted * audioChannels);
        const size_t got = decoder.read(frames.data() + before, wanted);
        frames.resize(before + got * audioChannels);
    }
    return frames;
}

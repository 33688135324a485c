// LAME in one call: PCM in, a complete MP3 file's bytes out.
#include "tools/mp3Writer.h"

#include <lame/lame.h>

#include <cstring>
#include <fstream>
#include <stdexcept>

std::vector<uint8_t> encodeMp3(const std::vector<int16_t>& samples, int sampleRate, int channels, int kilobitsPerSecond) {
    lame_t encoder = lame_init();
    if (!encoder) throw std::runtime_error("LAME could not start");
    lame_set_in_samplerate(encoder, sampleRate);
    lame_set_out_samplerate(encoder, sampleRate);
    lame_set_num_channels(encoder, channels);
    lame_set_mode(encoder, channels == 1 ? MONO : JOINT_STEREO);
    lame_set_brate(encoder, kilobitsPerSecond);
    lame_set_quality(encoder, 5);
    lame_set_bWriteVbrTag(encoder, 1);
    if (lame_init_params(encoder) < 0) {
        lame_close(encoder);
        throw std::runtime_error("LAME refused the encoding parameters");
    }
    const size_t frames = samples.size() / static_cast<size_t>(channels);
    std::vector<uint8_t> output(frames * 5 / 4 + 7200 + 8192);
    const int written = channels == 2
        ? lame_encode_buffer_interleaved(encoder, const_cast<short*>(samples.data()), static_cast<int>(frames),
                                         output.data(), static_cast<int>(output.size()))
        : lame_encode_buffer(encoder, samples.data(), nullptr, static_cast<int>(frames), output.data(),
                             static_cast<int>(output.size()));
    if (written < 0) {
        lame_close(encoder);
        throw std::runtime_error("LAME could not encode");
    }
    const int flushed = lame_encode_flush(encoder, output.data() + written, static_cast<int>(output.size()) - written);
    output.resize(static_cast<size_t>(written + (flushed > 0 ? flushed : 0)));
    // The Info frame was reserved at the start; it tells decoders the exact length.
    uint8_t tag[4096];
    const size_t tagSize = lame_get_lametag_frame(encoder, tag, sizeof(tag));
    if (tagSize > 0 && tagSize <= output.size()) std::memcpy(output.data(), tag, tagSize);
    lame_close(encoder);
    return output;
}

bool writeMp3File(const std::string& path, const std::vector<int16_t>& samples, int sampleRate, int channels,
                  int kilobitsPerSecond) {
    const std::vector<uint8_t> bytes = encodeMp3(samples, sampleRate, channels, kilobitsPerSecond);
    std::ofstream file(path, std::ios::binary | std::ios::trunc);
    file.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    return static_cast<bool>(file);
}

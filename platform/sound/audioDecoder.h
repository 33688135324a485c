// MP3 bytes to the output format (44100 Hz, stereo, 16-bit), with exact length and seeking.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

constexpr int32_t audioRate = 44100;
constexpr int32_t audioChannels = 2;

struct mpg123_handle_struct;

// Decodes one MP3 held in memory. Any sample rate and channel count comes out as the output
// format; the encoder's gapless information trims the padding, so the frame count is exact.
class TmpegDecoder {
public:
    explicit TmpegDecoder(std::vector<uint8_t> fileBytes);
    ~TmpegDecoder();
    TmpegDecoder(const TmpegDecoder&) = delete;
    TmpegDecoder& operator=(const TmpegDecoder&) = delete;

    // False when the bytes hold no MP3 frame in a format the decoder can deliver.
    bool valid() const { return handle != nullptr; }
    // The length the stream's own index gives (0 when unknown); the frames read to the end count.
    int64_t lengthFrames() const { return indexedLength; }
    // Decodes up to frameCount frames into out (interleaved stereo). Fewer than asked means the
    // stream ended or broke there; after that atEnd() is true.
    size_t read(int16_t* out, size_t frameCount);
    bool atEnd() const { return ended; }
    // Moves to a frame; false when the stream cannot seek there (it then counts as ended).
    bool seek(int64_t frame);

    // The memory the library reads from; public for the reader callbacks.
    struct Tsource {
        std::vector<uint8_t> bytes;
        size_t offset = 0;
    };

private:
    bool openHandle();
    bool hasOutputFormat();

    Tsource source;
    mpg123_handle_struct* handle = nullptr;
    int64_t indexedLength = 0;
    bool ended = false;
};

// Reads a whole file (the path is resolved without regard to case); false when it cannot be read.
bool readWholeFile(const std::string& path, std::vector<uint8_t>& bytes);

// Decodes a whole MP3 into interleaved stereo frames, at most maxFrames of them.
std::vector<int16_t> decodeWholeMp3(std::vector<uint8_t> fileBytes, size_t maxFrames);

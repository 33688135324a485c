// MP3 encoding with LAME, for the stock pack and for test fixtures.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// Encodes 16-bit PCM (interleaved when channels is 2) at the given bit rate. The result carries
// the encoder's Info frame, so decoders know the exact sample count. Deterministic.
std::vector<uint8_t> encodeMp3(const std::vector<int16_t>& samples, int sampleRate, int channels, int kilobitsPerSecond);

// Encodes and writes the file; false when it cannot be written.
bool writeMp3File(const std::string& path, const std::vector<int16_t>& samples, int sampleRate, int channels,
                  int kilobitsPerSecond);

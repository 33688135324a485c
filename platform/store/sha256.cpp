// SHA-256 (FIPS 180-4) of bytes in memory and of files read in chunks.
#include "platform/store/sha256.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <memory>

namespace {

constexpr std::array<uint32_t, 64> roundConstants = {
    0x428a2f98, 0x71374491, 0xb5c0fbcf, 0xe9b5dba5, 0x3956c25b, 0x59f111f1, 0x923f82a4, 0xab1c5ed5,
    0xd807aa98, 0x12835b01, 0x243185be, 0x550c7dc3, 0x72be5d74, 0x80deb1fe, 0x9bdc06a7, 0xc19bf174,
    0xe49b69c1, 0xefbe4786, 0x0fc19dc6, 0x240ca1cc, 0x2de92c6f, 0x4a7484aa, 0x5cb0a9dc, 0x76f988da,
    0x983e5152, 0xa831c66d, 0xb00327c8, 0xbf597fc7, 0xc6e00bf3, 0xd5a79147, 0x06ca6351, 0x14292967,
    0x27b70a85, 0x2e1b2138, 0x4d2c6dfc, 0x53380d13, 0x650a7354, 0x766a0abb, 0x81c2c92e, 0x92722c85,
    0xa2bfe8a1, 0xa81a664b, 0xc24b8b70, 0xc76c51a3, 0xd192e819, 0xd6990624, 0xf40e3585, 0x106aa070,
    0x19a4c116, 0x1e376c08, 0x2748774c, 0x34b0bcb5, 0x391c0cb3, 0x4ed8aa4a, 0x5b9cca4f, 0x682e6ff3,
    0x748f82ee, 0x78a5636f, 0x84c87814, 0x8cc70208, 0x90befffa, 0xa4506ceb, 0xbef9a3f7, 0xc67178f2};

constexpr size_t blockSize = 64;

uint32_t rotateRight(uint32_t value, int count) {
    return (value >> count) | (value << (32 - count));
}

// The running state of one digest: bytes are fed in any pieces, the digest taken once.
class Tsha256 {
public:
    void feed(const uint8_t* bytes, size_t size) {
        totalBytes += size;
        while (size > 0) {
            const size_t taken = std::min(size, blockSize - pendingSize);
            std::copy(bytes, bytes + taken, pending.begin() + static_cast<std::ptrdiff_t>(pendingSize));
            pendingSize += taken;
            bytes += taken;
            size -= taken;
            if (pendingSize == blockSize) {
                compress(pending.data());
                pendingSize = 0;
            }
        }
    }

    std::string hexDigest() {
        const uint64_t bitLength = totalBytes * 8;
        const uint8_t one = 0x80;
        feed(&one, 1);
        const uint8_t zero = 0;
        while (pendingSize != blockSize - 8) feed(&zero, 1);
        std::array<uint8_t, 8> lengthBytes{};
        for (size_t index = 0; index < 8; ++index) lengthBytes[index] = uint8_t(bitLength >> (56 - 8 * index));
        feed(lengthBytes.data(), lengthBytes.size());

        static const char digits[] = "0123456789abcdef";
        std::string text;
        for (const uint32_t word : state)
            for (int shift = 28; shift >= 0; shift -= 4) text += digits[(word >> shift) & 0xf];
        return text;
    }

private:
    void compress(const uint8_t* block) {
        std::array<uint32_t, 64> schedule{};
        for (size_t index = 0; index < 16; ++index)
            schedule[index] = uint32_t(block[4 * index]) << 24 | uint32_t(block[4 * index + 1]) << 16 |
                              uint32_t(block[4 * index + 2]) << 8 | uint32_t(block[4 * index + 3]);
        for (size_t index = 16; index < 64; ++index) {
            const uint32_t before15 = schedule[index - 15];
            const uint32_t before2 = schedule[index - 2];
            const uint32_t sigma0 = rotateRight(before15, 7) ^ rotateRight(before15, 18) ^ (before15 >> 3);
            const uint32_t sigma1 = rotateRight(before2, 17) ^ rotateRight(before2, 19) ^ (before2 >> 10);
            schedule[index] = schedule[index - 16] + sigma0 + schedule[index - 7] + sigma1;
        }

        uint32_t a = state[0], b = state[1], c = state[2], d = state[3];
        uint32_t e = state[4], f = state[5], g = state[6], h = state[7];
        for (size_t index = 0; index < 64; ++index) {
            const uint32_t sum1 = rotateRight(e, 6) ^ rotateRight(e, 11) ^ rotateRight(e, 25);
            const uint32_t choice = (e & f) ^ (~e & g);
            const uint32_t first = h + sum1 + choice + roundConstants[index] + schedule[index];
            const uint32_t sum0 = rotateRight(a, 2) ^ rotateRight(a, 13) ^ rotateRight(a, 22);
            const uint32_t majority = (a & b) ^ (a & c) ^ (b & c);
            const uint32_t second = sum0 + majority;
            h = g;
            g = f;
            f = e;
            e = d + first;
            d = c;
            c = b;
            b = a;
            a = first + second;
        }
        state[0] += a;
        state[1] += b;
        state[2] += c;
        state[3] += d;
        state[4] += e;
        state[5] += f;
        state[6] += g;
        state[7] += h;
    }

    std::array<uint32_t, 8> state = {0x6a09e667, 0xbb67ae85, 0x3c6ef372, 0xa54ff53a,
                                     0x510e527f, 0x9b05688c, 0x1f83d9ab, 0x5be0cd19};
    std::array<uint8_t, blockSize> pending{};
    size_t pendingSize = 0;
    uint64_t totalBytes = 0;
};

}  // namespace

std::string sha256Hex(const uint8_t* bytes, size_t size) {
    Tsha256 digest;
    digest.feed(bytes, size);
    return digest.hexDigest();
}

std::string sha256Hex(const std::string& bytes) {
    return sha256Hex(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
}

std::string fileSha256(const std::string& path) {
    const std::unique_ptr<std::FILE, int (*)(std::FILE*)> file(std::fopen(path.c_str(), "rb"), std::fclose);
    if (!file) return "";
    Tsha256 digest;
    std::array<uint8_t, 65536> chunk{};
    for (;;) {
        const size_t got = std::fread(chunk.data(), 1, chunk.size(), file.get());
        digest.feed(chunk.data(), got);
        if (got < chunk.size()) break;
    }
    if (std::ferror(file.get())) return "";
    return digest.hexDigest();
}

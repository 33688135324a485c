// Fuzz target: any bytes through the JPEG decoder give pixels of the announced size or a refusal.
#include "tests/fuzz/fuzzImageCheck.h"

// Small inputs may announce pictures of any size; a bound keeps each run fast.
constexpr uint64_t maxFuzzPixels = 1u << 20;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    checkDecoded(decodeJpeg(data, size, maxFuzzPixels));
    return 0;
}

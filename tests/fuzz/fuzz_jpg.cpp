// Fuzz target: any bytes through the JPEG decoder give pixels of the announced size or a refusal.
#include "tests/fuzz/fuzzImageCheck.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    checkDecoded(decodeJpeg(data, size));
    return 0;
}

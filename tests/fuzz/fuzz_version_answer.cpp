// Fuzz target: the reader of a program's answer to --version on arbitrary bytes.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "content/latestVersionCode.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    const std::optional<int32_t> build = readVersionAnswer(bytes);
    // A build that was read is read again from the answer written for it.
    if (build && readVersionAnswer(versionAnswer(0, 3, 8, *build)) != build) __builtin_trap();
    return 0;
}

// Fuzz target: the reader of the update server's "latestVersion.txt" on arbitrary bytes.
#include <cctype>
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "content/latestVersionCode.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::optional<TlatestVersion> version =
        readLatestVersion(std::string_view(reinterpret_cast<const char*>(data), size));
    if (!version) return 0;
    // A digest is either absent or exactly 64 lowercase hex digits, and never both given and malformed.
    if (!version->sha256.empty() && (version->sha256.size() != 64 || version->sha256Malformed)) __builtin_trap();
    for (const char c : version->sha256)
        if (!std::isxdigit(static_cast<unsigned char>(c)) || std::isupper(static_cast<unsigned char>(c))) __builtin_trap();
    return 0;
}

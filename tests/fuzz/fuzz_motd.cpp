// Fuzz target: the message-of-the-day file's bytes to the memo's lines.
#include <cstddef>
#include <cstdint>
#include <string>

#include "launcher/motdText.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string bytes(reinterpret_cast<const char*>(data), size);
    const QString message = messageFromBytes(bytes);
    // Two bytes make one character, and the text stops before any zero character.
    if (static_cast<size_t>(message.size()) > size / 2 || message.contains(QChar(0))) __builtin_trap();
    const QString lines = asMemoLines(message);
    if (lines.contains('\r') || lines.size() > message.size()) __builtin_trap();
    return 0;
}

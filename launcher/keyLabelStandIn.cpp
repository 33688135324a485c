// The stand-in key names: letters and digits as themselves, other codes by number.
#include "launcher/keyLabelStandIn.h"

std::string keyLabel(uint16_t code) {
    if ((code >= '0' && code <= '9') || (code >= 'A' && code <= 'Z')) return std::string(1, static_cast<char>(code));
    return "#" + std::to_string(code);
}

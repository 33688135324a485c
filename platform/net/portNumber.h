// A TCP port number read from a command line: the servers' --port.
#pragma once

#include <optional>
#include <stdexcept>
#include <string>

// The port the whole text names, 0 (any free port) to 65535; nothing for anything else.
inline std::optional<int> portNumberFromText(const std::string& text) {
    size_t used = 0;
    int port = -1;
    try {
        port = std::stoi(text, &used);
    } catch (const std::exception&) {
        return std::nullopt;
    }
    if (used != text.size() || port < 0 || port > 65535) return std::nullopt;
    return port;
}

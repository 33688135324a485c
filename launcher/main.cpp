// The program's entry: starts a game run and turns any escaped error into a message.
#include <unistd.h>

#include <cstdio>
#include <exception>
#include <memory>
#include <string>

#include "engine/trellikGL38Engine.h"
#include "platform/messageBox.h"

namespace {

std::string runningExecutable(const char* argv0) {
    char buffer[4096];
    const ssize_t length = ::readlink("/proc/self/exe", buffer, sizeof(buffer) - 1);
    if (length <= 0) return argv0;
    return std::string(buffer, static_cast<size_t>(length));
}

}  // namespace

int main(int, char** argv) {
    try {
        auto game = std::make_unique<TtrellikGL>();
        runGame(*game, defaultLaunchParameters(runningExecutable(argv[0])));
        return 0;
    } catch (const std::exception& error) {
        messageBox(error.what(), "Error", TmessageKind::error);
    } catch (...) {
        messageBox("An unknown error ended the game.", "Error", TmessageKind::error);
    }
    return 1;
}

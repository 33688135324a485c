// A stand-in for the game program in self-update tests: says through "standin.fifo" that it ran,
// and answers --version as the program does (or as TRELLIK_STANDIN_ANSWER makes it misbehave).
#include <fcntl.h>
#include <unistd.h>

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "buildVersion.h"

#ifndef TRELLIK_NOTE_BUILD
#define TRELLIK_NOTE_BUILD TRELLIK_VERSION_BUILD
#endif

namespace {

// "nothing": ends at once without a word; "failure": ends at once with exit code 3; "other build":
// names the next build; "hang": never ends.
int answerVersion() {
    const char* how = std::getenv("TRELLIK_STANDIN_ANSWER");
    const std::string answer = how ? how : "";
    if (answer == "nothing") return 0;
    if (answer == "failure") return 3;
    while (answer == "hang") ::pause();
    const int build = answer == "other build" ? TRELLIK_NOTE_BUILD + 1 : TRELLIK_NOTE_BUILD;
    std::printf("trellik %d.%d.%d.%d\n", TRELLIK_VERSION_MAJOR, TRELLIK_VERSION_MINOR, TRELLIK_VERSION_RELEASE, build);
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 2 && std::strcmp(argv[1], "--version") == 0) return answerVersion();
    // The test holds the reading end open before the program is started; without it, no one listens.
    const int fifo = ::open("standin.fifo", O_WRONLY | O_NONBLOCK | O_CLOEXEC);
    if (fifo < 0) return 1;
    char folder[PATH_MAX] = {};
    if (!::getcwd(folder, sizeof(folder))) folder[0] = '\0';
    const std::string line = "ran arguments=" + std::to_string(argc - 1) + " folder=" + folder + "\n";
    const bool written = ::write(fifo, line.data(), line.size()) == static_cast<ssize_t>(line.size());
    ::close(fifo);
    return written ? 0 : 1;
}

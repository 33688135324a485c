// A stand-in for the game program in self-update tests: says through "standin.fifo" that it ran.
#include <fcntl.h>
#include <unistd.h>

#include <climits>
#include <string>

int main(int argc, char**) {
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

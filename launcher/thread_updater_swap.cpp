// The swap of the running program for the downloaded one, kept only once the new one answers.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <optional>
#include <string>

#include "content/latestVersionCode.h"
#include "launcher/thread_updater.h"
#include "platform/buildNumber.h"
#include "platform/store/gameFolder.h"
#include "platform/store/pathResolver.h"

extern char** environ;

namespace {

// Adds an execute bit wherever the file has a read bit.
bool giveRunBit(const std::string& path) {
    struct stat status {};
    if (::stat(path.c_str(), &status) != 0) return false;
    const mode_t mode = status.st_mode & 07777;
    return ::chmod(path.c_str(), mode | ((mode & 0444) >> 2)) == 0;
}

// Spawned programs start with no signal blocked and the usual handling of the ones the launcher
// may have changed.
void resetSignals(posix_spawnattr_t& attributes, short flags) {
    sigset_t none;
    sigemptyset(&none);
    sigset_t defaults;
    sigemptyset(&defaults);
    for (const int number : {SIGPIPE, SIGINT, SIGTERM, SIGHUP, SIGCHLD}) sigaddset(&defaults, number);
    posix_spawnattr_setsigmask(&attributes, &none);
    posix_spawnattr_setsigdefault(&attributes, &defaults);
    posix_spawnattr_setflags(&attributes, static_cast<short>(flags | POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF));
}

// Starts the program without arguments in its own session, so it outlives this one.
int startDetached(const std::string& path) {
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    resetSignals(attributes, POSIX_SPAWN_SETSID);
    std::string argument0 = path;
    char* arguments[] = {argument0.data(), nullptr};
    pid_t child = 0;
    const int result = posix_spawn(&child, path.c_str(), nullptr, &attributes, arguments, environ);
    posix_spawnattr_destroy(&attributes);
    return result;
}

uint64_t steadyMilliseconds() {
    const auto sinceStart = std::chrono::steady_clock::now().time_since_epoch();
    return static_cast<uint64_t>(std::chrono::duration_cast<std::chrono::milliseconds>(sinceStart).count());
}

// Starts program with one argument, its output into a pipe whose reading end goes to output, its
// input and errors on /dev/null. Returns the child, or -1 with errno set.
pid_t startWithOutput(const std::string& program, const char* argument, int& output) {
    int ends[2];
    if (::pipe2(ends, O_CLOEXEC) != 0) return -1;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, ends[1], STDOUT_FILENO);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    resetSignals(attributes, 0);
    std::string argument0 = program;
    std::string argument1 = argument;
    char* arguments[] = {argument0.data(), argument1.data(), nullptr};
    pid_t child = -1;
    const int result = posix_spawn(&child, program.c_str(), &actions, &attributes, arguments, environ);
    posix_spawnattr_destroy(&attributes);
    posix_spawn_file_actions_destroy(&actions);
    ::close(ends[1]);
    if (result != 0) {
        ::close(ends[0]);
        errno = result;
        return -1;
    }
    output = ends[0];
    return child;
}

// Reads what the program writes until it closes its output (true) or the deadline passes (false).
// An answer is one line; what goes on past a few kilobytes is read but not kept.
bool readUntilClosed(int output, const TanswerDeadline& deadline, std::string& answer) {
    constexpr size_t longestAnswer = 4096;
    for (;;) {
        const uint32_t left = deadline.remainingMs(steadyMilliseconds());
        if (left == 0) return false;
        pollfd waiting{output, POLLIN, 0};
        const int ready = ::poll(&waiting, 1, static_cast<int>(left));
        if (ready < 0 && errno == EINTR) continue;
        if (ready <= 0) return false;
        char buffer[512];
        const ssize_t got = ::read(output, buffer, sizeof(buffer));
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) return true;
        if (answer.size() < longestAnswer) answer.append(buffer, static_cast<size_t>(got));
    }
}

// The program's wait status once it ended before the deadline; -1 when it had to be ended then.
int waitUntilEnded(pid_t child, const TanswerDeadline& deadline) {
    for (;;) {
        int status = 0;
        const pid_t ended = ::waitpid(child, &status, WNOHANG);
        if (ended == child) return status;
        if (ended < 0 && errno != EINTR) return -1;
        if (deadline.remainingMs(steadyMilliseconds()) == 0) {
            ::kill(child, SIGKILL);
            ::waitpid(child, &status, 0);
            return -1;
        }
        ::poll(nullptr, 0, 5);
    }
}

// Asks program for its version and checks the answer names build; "" when it does, else why not.
std::string answerFailure(const std::string& program, int32_t build, uint32_t limitMs) {
    const TanswerDeadline deadline{steadyMilliseconds(), limitMs};
    int output = -1;
    const pid_t child = startWithOutput(program, "--version", output);
    if (child < 0) return std::string("it could not be started: ") + std::strerror(errno);
    std::string answer;
    const bool closed = readUntilClosed(output, deadline, answer);
    ::close(output);
    const int status = waitUntilEnded(child, closed ? deadline : TanswerDeadline{0, 0});
    if (!closed || status < 0) return "it gave no answer within " + std::to_string(limitMs) + " ms";
    if (WIFSIGNALED(status)) return "it was ended by signal " + std::to_string(WTERMSIG(status));
    if (WEXITSTATUS(status) != 0) return "it ended with exit code " + std::to_string(WEXITSTATUS(status));
    const std::optional<int32_t> answered = readVersionAnswer(answer);
    if (!answered) return "it did not answer with its version";
    if (*answered != build)
        return "it answered as build " + std::to_string(*answered) + ", not " + std::to_string(build);
    return "";
}

// Where the running program is kept while the new one proves itself: beside it, under the old name.
std::string keptProgramPath(const std::string& runningProgram) {
    const std::filesystem::path program(runningProgram);
    const std::string kept = (program.parent_path() / replacedProgramFile).string();
    return kept == runningProgram ? kept + "_old" : kept;
}

// Gives the running program its second name first, so that its own name never goes missing; a
// file system without hard links has it renamed instead.
bool setAside(const std::string& program, const std::string& kept) {
    if (::link(program.c_str(), kept.c_str()) == 0) return true;
    return std::rename(program.c_str(), kept.c_str()) == 0;
}

// Renames from onto to; across file systems, a copy beside to is renamed over it.
bool moveOnto(const std::string& from, const std::string& to) {
    if (std::rename(from.c_str(), to.c_str()) == 0) return true;
    if (errno != EXDEV) return false;
    const std::string copying = to + ".copying";
    std::error_code error;
    std::filesystem::copy_file(from, copying, std::filesystem::copy_options::overwrite_existing, error);
    if (!error && std::rename(copying.c_str(), to.c_str()) == 0) {
        std::remove(from.c_str());
        return true;
    }
    const int reason = error ? error.value() : errno;
    std::remove(copying.c_str());
    errno = reason;
    return false;
}

// Puts the checked download in place of the running program and starts it; "" when it runs.
std::string swapInAndStart(const std::string& downloaded, const std::string& runningProgram, int32_t build,
                           uint32_t answerLimitMs) {
    if (!moveOnto(downloaded, runningProgram))
        return std::string("The new program could not be put in place: ") + std::strerror(errno);
    const std::string failure = answerFailure(runningProgram, build, answerLimitMs);
    if (!failure.empty()) return "The new program does not run: " + failure;
    const int result = startDetached(runningProgram);
    if (result != 0) return std::string("The new program could not be started: ") + std::strerror(result);
    return "";
}

}  // namespace

bool canReplaceProgram(const std::string& path) {
    const std::string folder = std::filesystem::path(path).parent_path().string();
    return installedDataFolder(path).empty() && ::access(path.c_str(), W_OK) == 0 &&
           ::access(folder.empty() ? "." : folder.c_str(), W_OK) == 0;
}

std::string replaceAndStartProgram(const std::string& runningProgram, uint32_t answerLimitMs) {
    // Nothing is moved unless there is a program to put in place that can run here.
    const std::string unchanged = "; nothing was changed.";
    if (!installedDataFolder(runningProgram).empty())
        return "An installed game is updated by its package manager" + unchanged;
    if (!pathExists(downloadedProgramFile))
        return std::string("The new program ") + downloadedProgramFile + " is missing" + unchanged;
    const std::string downloaded = resolvePath(downloadedProgramFile);
    if (!isProgramForThisMachine(downloaded))
        return std::string("The new program ") + downloadedProgramFile + " is not a program for this machine" + unchanged;
    const int32_t build = getBuildNumber(downloaded);
    if (build < 0) return std::string("The new program ") + downloadedProgramFile + " has no build number" + unchanged;
    if (!giveRunBit(downloaded))
        return std::string("The new program could not be made runnable: ") + std::strerror(errno) + unchanged;
    const std::string kept = keptProgramPath(runningProgram);
    std::remove(kept.c_str());
    if (!setAside(runningProgram, kept))
        return std::string("The running program could not be set aside: ") + std::strerror(errno) + unchanged;
    // From here on a failure gives the running program its file back under its own name, in one
    // rename over whatever stands there.
    const std::string failure = swapInAndStart(downloaded, runningProgram, build, answerLimitMs);
    if (failure.empty()) return "";
    std::rename(kept.c_str(), runningProgram.c_str());
    return failure + "; the running program was kept.";
}

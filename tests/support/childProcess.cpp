// Child processes through posix_spawn with a working folder, extra environment and a stdout pipe.
#include "tests/support/childProcess.h"

#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fcntl.h>

#include <cerrno>
#include <cstring>
#include <stdexcept>

extern char** environ;

namespace {

std::vector<char*> pointersTo(std::vector<std::string>& texts) {
    std::vector<char*> pointers;
    for (std::string& text : texts) pointers.push_back(text.data());
    pointers.push_back(nullptr);
    return pointers;
}

}  // namespace

TchildProcess::TchildProcess(const std::string& program, const std::vector<std::string>& arguments,
                             const std::string& folder, const std::vector<std::string>& environment,
                             const std::string& stderrFile) {
    int pipeEnds[2];
    if (::pipe2(pipeEnds, O_CLOEXEC) != 0) throw std::runtime_error("cannot make a pipe");
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, pipeEnds[1], STDOUT_FILENO);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, stderrFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                     0644);
    posix_spawn_file_actions_addchdir_np(&actions, folder.c_str());

    std::vector<std::string> argumentTexts = {program};
    argumentTexts.insert(argumentTexts.end(), arguments.begin(), arguments.end());
    std::vector<std::string> environmentTexts;
    for (char** entry = environ; *entry; ++entry) environmentTexts.push_back(*entry);
    environmentTexts.insert(environmentTexts.end(), environment.begin(), environment.end());

    const int result = ::posix_spawn(&pid, program.c_str(), &actions, nullptr, pointersTo(argumentTexts).data(),
                                     pointersTo(environmentTexts).data());
    posix_spawn_file_actions_destroy(&actions);
    ::close(pipeEnds[1]);
    outputPipe = pipeEnds[0];
    if (result != 0) {
        ::close(outputPipe);
        throw std::runtime_error("cannot start " + program + ": " + std::strerror(result));
    }
}

TchildProcess::~TchildProcess() {
    if (!reaped) {
        ::kill(pid, SIGKILL);
        wait();
    }
    ::close(outputPipe);
}

bool TchildProcess::readLine(std::string& line) {
    for (;;) {
        const size_t end = pending.find('\n');
        if (end != std::string::npos) {
            line = pending.substr(0, end);
            pending.erase(0, end + 1);
            return true;
        }
        char buffer[4096];
        const ssize_t got = ::read(outputPipe, buffer, sizeof(buffer));
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) {
            line = pending;
            pending.clear();
            return !line.empty();
        }
        pending.append(buffer, static_cast<size_t>(got));
    }
}

void TchildProcess::signal(int number) const {
    ::kill(pid, number);
}

int TchildProcess::wait() {
    if (reaped) return exitCode;
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    reaped = true;
    exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    return exitCode;
}

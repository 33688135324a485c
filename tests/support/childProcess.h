// Programs of the project started as child processes, the way a player or script starts them.
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

class TchildProcess {
public:
    // Starts program with arguments in folder; environment holds extra "NAME=value" entries.
    // Standard output comes through a pipe (readLine); standard error goes to stderrFile.
    TchildProcess(const std::string& program, const std::vector<std::string>& arguments, const std::string& folder,
                  const std::vector<std::string>& environment, const std::string& stderrFile);
    // Ends a child still running (SIGKILL) and reaps it.
    ~TchildProcess();
    TchildProcess(const TchildProcess&) = delete;
    TchildProcess& operator=(const TchildProcess&) = delete;

    // The next line of standard output without its line end; false at the end of the output.
    bool readLine(std::string& line);
    void signal(int number) const;
    // Waits for the child to end; its exit code, or 128 + the signal that ended it.
    int wait();

private:
    pid_t pid = -1;
    int outputPipe = -1;
    std::string pending;
    bool reaped = false;
    int exitCode = -1;
};

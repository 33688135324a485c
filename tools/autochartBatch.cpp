// The batch runner: a child process per song so that a crash ends only that song, a signalfd so
// that Ctrl-C stops the run between songs, and the progress bar.
#include "tools/autochartBatch.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/signalfd.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <iostream>
#include <sstream>
#include <thread>

#include "platform/clockSeam.h"

namespace fs = std::filesystem;

namespace {

constexpr int barCells = 20;
constexpr int redrawMilliseconds = 250;
constexpr int exitStatusInterrupted = 130;

// How a child tells its parent the outcome; its reason comes through a pipe.
constexpr int childCharted = 0;
constexpr int childRefused = 3;
constexpr int childFailed = 4;

int childStatusOf(TsongResult result) {
    return result == TsongResult::charted ? childCharted : result == TsongResult::refused ? childRefused : childFailed;
}

sigset_t interruptionSignals() {
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGINT);
    sigaddset(&signals, SIGTERM);
    sigaddset(&signals, SIGHUP);
    return signals;
}

void writeAll(int handle, const std::string& text) {
    for (size_t written = 0; written < text.size();) {
        const ssize_t count = ::write(handle, text.data() + written, text.size() - written);
        if (count <= 0 && errno != EINTR) return;
        if (count > 0) written += static_cast<size_t>(count);
    }
}

// In the child: interruptions as the program had them, the song charted, the reason sent up.
[[noreturn]] void runChild(const TbatchSong& song, const std::string& songFolder, const TchartSong& chartSong,
                           const sigset_t& parentSignals, int reasonPipe) {
    ::sigprocmask(SIG_SETMASK, &parentSignals, nullptr);
    TsongOutcome outcome;
    try {
        outcome = chartSong(song, songFolder + "/" + song.group);
    } catch (const std::exception& error) {
        outcome = {TsongResult::failed, error.what()};
    }
    writeAll(reasonPipe, outcome.reason);
    ::_exit(childStatusOf(outcome.result));
}

struct Tjob {
    pid_t pid = -1;
    int reasonPipe = -1;
    size_t song = 0;
    std::string reason;
};

std::string displayName(const TbatchSong& song) { return song.group + "\\" + song.name; }

// The text cut to columns characters (UTF-8 sequences count as one).
std::string cutToColumns(const std::string& text, int columns) {
    int characters = 0;
    for (size_t at = 0; at < text.size(); ++at) {
        if ((static_cast<uint8_t>(text[at]) & 0xC0) == 0x80) continue;
        if (++characters > columns) return text.substr(0, at);
    }
    return text;
}

// The listing names the song's file before its reason; one-song reasons may begin with it too.
std::string withoutSource(const std::string& reason, const std::string& source) {
    const std::string prefix = source + ": ";
    return reason.starts_with(prefix) ? reason.substr(prefix.size()) : reason;
}

class TbatchRun {
public:
    TbatchRun(const std::vector<TbatchSong>& songs, const TbatchSettings& settings, const TchartSong& chartSong,
              std::ostream& out)
        : songs(songs), settings(settings), chartSong(chartSong), out(out) {}

    TbatchSummary run(const std::vector<size_t>& todo) {
        total = static_cast<int>(todo.size());
        startMs = activeClock().highResolutionMs();
        const sigset_t signals = interruptionSignals();
        sigset_t parentSignals;
        ::sigprocmask(SIG_BLOCK, &signals, &parentSignals);
        const int signalHandle = ::signalfd(-1, &signals, SFD_CLOEXEC | SFD_NONBLOCK);
        size_t next = 0;
        while (next < todo.size() || !jobs.empty()) {
            while (!interrupted && next < todo.size() && static_cast<int>(jobs.size()) < settings.jobs)
                start(todo[next++], parentSignals);
            drawBar();
            waitForNews(signalHandle);
            if (interrupted && next < todo.size()) {
                summary.left += static_cast<int>(todo.size() - next);
                next = todo.size();
            }
        }
        // An interruption that came as the last song ended is taken here, not on unblocking.
        if (signalHandle >= 0) takeInterruption(signalHandle);
        if (signalHandle >= 0) ::close(signalHandle);
        clearBar();
        ::sigprocmask(SIG_SETMASK, &parentSignals, nullptr);
        return summary;
    }

    TbatchSummary summary;

private:
    void start(size_t song, const sigset_t& parentSignals) {
        int pipeEnds[2];
        if (::pipe2(pipeEnds, O_CLOEXEC) != 0) return finish({-1, -1, song, std::strerror(errno)}, childFailed);
        out.flush();
        const pid_t pid = ::fork();
        if (pid == 0) {
            ::close(pipeEnds[0]);
            runChild(songs[song], settings.songFolder, chartSong, parentSignals, pipeEnds[1]);
        }
        ::close(pipeEnds[1]);
        if (pid < 0) {
            ::close(pipeEnds[0]);
            return finish({-1, -1, song, std::string("cannot start a process: ") + std::strerror(errno)}, childFailed);
        }
        jobs.push_back({pid, pipeEnds[0], song, {}});
    }

    // Waits for a child's words, its end, an interruption or the next redraw.
    void waitForNews(int signalHandle) {
        std::vector<pollfd> handles = {{signalHandle, POLLIN, 0}};
        for (const Tjob& job : jobs) handles.push_back({job.reasonPipe, POLLIN, 0});
        if (::poll(handles.data(), handles.size(), redrawMilliseconds) <= 0) return;
        if (handles[0].revents & POLLIN) takeInterruption(signalHandle);
        for (size_t i = handles.size() - 1; i >= 1; --i)
            if (handles[i].revents) readFrom(i - 1);
    }

    void takeInterruption(int signalHandle) {
        signalfd_siginfo information;
        bool taken = false;
        while (::read(signalHandle, &information, sizeof information) == sizeof information) taken = true;
        if (!taken) return;
        if (!interrupted) line("Stopping: the songs being charted are dropped; run again to chart the rest");
        interrupted = true;
        for (const Tjob& job : jobs) ::kill(job.pid, SIGINT);
    }

    void readFrom(size_t index) {
        Tjob& job = jobs[index];
        char buffer[4096];
        const ssize_t count = ::read(job.reasonPipe, buffer, sizeof buffer);
        if (count > 0 || (count < 0 && errno == EINTR)) {
            job.reason.append(buffer, static_cast<size_t>(std::max<ssize_t>(count, 0)));
            return;
        }
        ::close(job.reasonPipe);
        int status = 0;
        while (::waitpid(job.pid, &status, 0) < 0 && errno == EINTR) {}
        const Tjob ended = std::move(job);
        jobs.erase(jobs.begin() + static_cast<std::ptrdiff_t>(index));
        endJob(ended, status);
    }

    void endJob(const Tjob& job, int status) {
        if (WIFSIGNALED(status) && interrupted && (WTERMSIG(status) == SIGINT || WTERMSIG(status) == SIGTERM)) {
            ++summary.left;
        } else if (WIFSIGNALED(status)) {
            finish({job.pid, -1, job.song, std::string("the charting crashed (") + strsignal(WTERMSIG(status)) + ")"}, childFailed);
        } else {
            const int code = WEXITSTATUS(status);
            const bool known = code == childCharted || code == childRefused || code == childFailed;
            finish({job.pid, -1, job.song, known ? job.reason : "the charting ended with status " + std::to_string(code)},
                   known ? code : childFailed);
        }
    }

    void finish(const Tjob& job, int childStatus) {
        ++done;
        lastDoneSeconds = (activeClock().highResolutionMs() - startMs) / 1000;
        const TbatchSong& song = songs[job.song];
        if (childStatus == childCharted) {
            ++summary.charted;
            keepInManifest(song);
            return line(progressCount() + "charted " + displayName(song));
        }
        const bool refused = childStatus == childRefused;
        const std::string reason = withoutSource(job.reason, song.source);
        (refused ? summary.refused : summary.failed).push_back({song.source, reason});
        line(progressCount() + (refused ? "refused " : "failed ") + displayName(song) + ": " + reason);
    }

    // A song whose source cannot be read again is still charted; the next run knows it by its files.
    void keepInManifest(const TbatchSong& song) {
        TmanifestEntry entry = identityOf(song.source, {});
        if (entry.digest.empty()) return;
        entry.group = song.group;
        entry.name = song.name;
        if (!appendToManifest(settings.songFolder, entry))
            line("warning: " + manifestPath(settings.songFolder) + " cannot be written; a later run may not know " +
                 displayName(song));
    }

    std::string progressCount() const { return "[" + std::to_string(done) + "/" + std::to_string(total) + "] "; }

    void line(const std::string& text) {
        clearBar();
        out << text << "\n";
        drawBar();
    }

    void drawBar() {
        if (!settings.terminal) return;
        std::string current;
        if (!jobs.empty()) current = displayName(songs[jobs.front().song]);
        if (jobs.size() > 1) current += " (+" + std::to_string(jobs.size() - 1) + ")";
        const double elapsed = (activeClock().highResolutionMs() - startMs) / 1000;
        out << "\r" << progressLine({done, total, elapsed, lastDoneSeconds, current}, settings.columns - 1) << "\x1b[K"
            << std::flush;
    }

    void clearBar() {
        if (settings.terminal) out << "\r\x1b[K";
    }

    const std::vector<TbatchSong>& songs;
    const TbatchSettings& settings;
    const TchartSong& chartSong;
    std::ostream& out;
    std::vector<Tjob> jobs;
    int done = 0;
    int total = 0;
    double startMs = 0;
    double lastDoneSeconds = 0;
    bool interrupted = false;
};

int terminalColumns() {
    winsize size{};
    return ::ioctl(STDOUT_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_col > 0 ? size.ws_col : 80;
}

void appendProblems(std::ostringstream& text, const char* heading, const std::vector<TbatchProblem>& problems) {
    if (problems.empty()) return;
    text << heading << "\n";
    for (const TbatchProblem& problem : problems) text << "  " << problem.source << ": " << problem.reason << "\n";
}

}  // namespace

int jobsFrom(const std::string& text) {
    if (text.empty()) return std::max(1, static_cast<int>(std::thread::hardware_concurrency()));
    if (text.size() > 3 || text.find_first_not_of("0123456789") != std::string::npos) return 0;
    const int jobs = std::stoi(text);
    return jobs >= 1 && jobs <= mostJobs ? jobs : 0;
}

std::string clockText(double seconds) {
    const long whole = std::lround(std::max(0.0, seconds));
    char text[32];
    if (whole >= 3600) std::snprintf(text, sizeof text, "%ld:%02ld:%02ld", whole / 3600, whole / 60 % 60, whole % 60);
    else std::snprintf(text, sizeof text, "%ld:%02ld", whole / 60, whole % 60);
    return text;
}

std::string progressLine(const TbatchProgress& progress, int columns) {
    const int filled = progress.total > 0 ? progress.done * barCells / progress.total : barCells;
    const std::string eta = progress.done > 0
        ? clockText(progress.lastDoneSeconds / progress.done * progress.total - progress.elapsedSeconds)
        : std::string("--:--");
    const std::string text = "[" + std::string(static_cast<size_t>(filled), '#') +
                             std::string(static_cast<size_t>(barCells - filled), '-') + "] " +
                             std::to_string(progress.done) + "/" + std::to_string(progress.total) + "  ETA " + eta +
                             "  " + progress.current;
    return cutToColumns(text, columns);
}

std::string summaryText(const TbatchSummary& summary) {
    std::ostringstream text;
    text << "Charted: " << summary.charted << "  Skipped as already charted: " << summary.skipped
         << "  Refused: " << summary.refused.size() << "  Failed: " << summary.failed.size() << "\n";
    appendProblems(text, "Refused (no steady beat):", summary.refused);
    appendProblems(text, "Failed:", summary.failed);
    if (summary.left > 0) text << "Interrupted: " << summary.left << " songs are left; the same command charts them\n";
    return text.str();
}

TbatchSummary runBatch(const std::vector<TbatchSong>& songs, const TbatchSettings& settings,
                       const TchartSong& chartSong, std::ostream& out) {
    const std::vector<bool> charted = chartedSongs(settings.songFolder, songs);
    std::vector<size_t> todo;
    for (size_t i = 0; i < songs.size(); ++i)
        if (!charted[i]) todo.push_back(i);
    TbatchRun run(songs, settings, chartSong, out);
    run.summary.skipped = static_cast<int>(songs.size() - todo.size());
    return run.run(todo);
}

TinterruptionsHeld::TinterruptionsHeld() {
    const sigset_t signals = interruptionSignals();
    ::sigprocmask(SIG_BLOCK, &signals, &previous);
}

TinterruptionsHeld::~TinterruptionsHeld() { ::sigprocmask(SIG_SETMASK, &previous, nullptr); }

std::string songFolderComplaint(const std::string& songFolder) {
    std::error_code error;
    fs::create_directories(songFolder, error);
    if (error) return "cannot make " + songFolder + ": " + error.message();
    const std::string probe = (fs::path(songFolder) / ".autochart-write-test").string();
    const int handle = ::open(probe.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (handle < 0) return "cannot write into " + songFolder + ": " + std::strerror(errno);
    ::close(handle);
    ::unlink(probe.c_str());
    return "";
}

int runAutochartBatch(const std::string& sourceFolder, const std::string& songFolder, int jobs, const TchartSong& chartSong) {
    // Before any song is read or charted: a run that could keep nothing would waste hours.
    const std::string complaint = songFolderComplaint(songFolder);
    if (!complaint.empty()) {
        std::cerr << "trellik-tool autochart: " << complaint << "\n";
        return 1;
    }
    const std::vector<TbatchSong> songs = planBatch(sourceFolder, songFolder);
    if (songs.empty()) {
        std::cerr << "trellik-tool autochart: no MP3 files under " << sourceFolder << "\n";
        return 1;
    }
    // Interruptions are taken through a signalfd; a shell starting the run in the background
    // ignores SIGINT, which would keep Ctrl-C and kill -INT from ever reaching it.
    std::signal(SIGINT, SIG_DFL);
    std::signal(SIGTERM, SIG_DFL);
    TbatchSettings settings{songFolder, jobs, ::isatty(STDOUT_FILENO) == 1, terminalColumns()};
    std::cout << songs.size() << " MP3 files under " << sourceFolder << ", charted into " << songFolder << " with "
              << jobs << (jobs == 1 ? " job" : " jobs") << "\n";
    const TbatchSummary summary = runBatch(songs, settings, chartSong, std::cout);
    std::cout << summaryText(summary);
    if (summary.left > 0) return exitStatusInterrupted;
    return summary.failed.empty() ? 0 : 1;
}

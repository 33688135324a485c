// Charting every MP3 of a folder tree: one child process a song, several at once, with progress,
// a resumable run and a summary.
#pragma once

#include <csignal>
#include <functional>
#include <iosfwd>
#include <string>
#include <vector>

#include "tools/autochartBatchPlan.h"

// How charting one song ended: refused is a song without a steady beat, failed anything else.
enum class TsongResult { charted, refused, failed };

struct TsongOutcome {
    TsongResult result = TsongResult::failed;
    std::string reason;
};

// Charts one song into its group folder; runs in a child process of its own.
using TchartSong = std::function<TsongOutcome(const TbatchSong& song, const std::string& groupFolder)>;

// Jobs a batch may run at once.
constexpr int mostJobs = 256;

// The number of jobs "--jobs" asks for ("" for one a core); 0 when the text is not 1..mostJobs.
int jobsFrom(const std::string& text);

// A song that did not make it, and why.
struct TbatchProblem {
    std::string source;
    std::string reason;
};

struct TbatchSummary {
    int charted = 0;
    int skipped = 0;
    std::vector<TbatchProblem> refused;
    std::vector<TbatchProblem> failed;
    // Songs not charted because the run was interrupted (Ctrl-C, SIGTERM).
    int left = 0;
};

struct TbatchSettings {
    std::string songFolder;
    int jobs = 1;
    // Redraws a progress bar in place; otherwise one plain line for each song done.
    bool terminal = false;
    int columns = 80;
};

// Charts the songs not yet charted, at most settings.jobs at once, reporting on out. A song whose
// child process crashes fails alone. SIGINT and SIGTERM stop the run: songs being charted stop
// (a song being put in place finishes first) and count as left.
TbatchSummary runBatch(const std::vector<TbatchSong>& songs, const TbatchSettings& settings,
                       const TchartSong& chartSong, std::ostream& out);

// The closing report: counts, then the refused and failed songs with their reasons.
std::string summaryText(const TbatchSummary& summary);

// What a run has done so far, for the progress bar.
struct TbatchProgress {
    int done = 0;
    int total = 0;
    double elapsedSeconds = 0;
    // When the last song was done, from the start.
    double lastDoneSeconds = 0;
    std::string current;
};

// "[#####---------------] 5/20  ETA 1:30  Pack\Song", cut to columns characters. The time left
// counts down to the end the pace so far foretells (the time per song when the last was done,
// times all songs), and stays at 0:00 past it; "ETA --:--" before the first is done.
std::string progressLine(const TbatchProgress& progress, int columns);

// "0:42", "12:05", "1:02:03".
std::string clockText(double seconds);

// Holds off SIGINT, SIGTERM and SIGHUP while it lives: files being moved into place are all moved
// before an interruption ends the program.
class TinterruptionsHeld {
public:
    TinterruptionsHeld();
    ~TinterruptionsHeld();
    TinterruptionsHeld(const TinterruptionsHeld&) = delete;
    TinterruptionsHeld& operator=(const TinterruptionsHeld&) = delete;

private:
    sigset_t previous;
};

// Why nothing can be written into the song folder (made when missing), or "".
std::string songFolderComplaint(const std::string& songFolder);

// The batch as a command: checks that songFolder can be written, plans the songs of sourceFolder,
// runs them on standard output (a progress bar on a terminal) and prints the summary. Exit status
// 0 when no song failed, 1 when one did or nothing could be charted, 130 when interrupted.

int runAutochartBatch(const std::string& sourceFolder, const std::string& songFolder, int jobs, const TchartSong& chartSong);

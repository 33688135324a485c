// Songs rendered from MIDI with real instruments, with the beats they were written on: the corpus
// the tests and the benchmark check the beat analysis against (made by tools/makeSyncCorpus.py).
#pragma once

#include <string>
#include <vector>

// A stretch of one steady tempo: its start and its first beat in seconds of the audio.
struct TcorpusSegment {
    double startSeconds = 0;
    double bpm = 0;
    double firstBeat = 0;
};

struct TcorpusSong {
    std::string name;
    std::string style;
    std::string kind;  // "steady", "change" (a sudden tempo change) or "drift" (a gradual one)
    std::string path;  // the MP3
    std::vector<TcorpusSegment> segments;

    bool steady() const { return kind == "steady"; }
    double bpm() const { return segments.front().bpm; }
    double firstBeat() const { return segments.front().firstBeat; }
    // How far a time lies from the nearest true beat (or half-beat, with halves) of its segment.
    double distanceToBeat(double seconds, bool halves = false) const;
};

struct TsyncCorpus {
    std::vector<TcorpusSong> songs;
    double renderDelaySeconds = 0;  // how late the render and the encoder put a note, measured once
    std::string complaint;          // empty when the corpus could be made and read
};

// Makes the set ("test" or "bench") in the folder unless the same script made it there before, and
// reads it; several processes may ask at once.
TsyncCorpus loadSyncCorpus(const std::string& set, const std::string& folder);

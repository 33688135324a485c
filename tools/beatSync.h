// Finding a song's beat grid from its audio: onsets, tempo, first beat and how steady the tempo is.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// Another tempo the beat could be counted at, and how likely a person taps it (the scores of a
// song's levels add up to 1).
struct TtempoAlternative {
    double bpm = 0;
    double score = 0;
};

// A stretch of the music without a beat to follow (an intro, a break, a fade), in seconds.
struct TbeatlessStretch {
    double start = 0;
    double end = 0;
};

// A stretch of one tempo: beat n of the song (counted from the grid's first beat), for n from
// startBeat on, is heard at firstBeat + (n - startBeat) × 60 / bpm seconds.
struct TtempoSegment {
    double start = 0;  // seconds; the time of its first beat
    double bpm = 0;
    double firstBeat = 0;
    int startBeat = 0;
};

// Where the beats of a song fall: beat n is heard at firstBeat + n × 60 / bpm seconds.
struct TbeatGrid {
    double bpm = 0;
    double firstBeat = 0;  // seconds from the start of the audio
    double confidence = 0;  // 0..1: the share of the onsets that sit on the grid
    bool tempoStable = false;
    double largestDeviationMs = 0;  // how far the music with a beat strays from one steady grid
    std::vector<TtempoSegment> segments;  // the tempo map: one segment while the tempo holds
    bool drifting = false;                // the tempo wanders gradually (a live band); no map follows it
    bool mapped = false;                  // the tempo changes, and the segments explain the music
    std::vector<TbeatlessStretch> beatless;  // where the music has no beat; stability ignores it
    std::vector<TtempoAlternative> alternatives;  // every tappable level, the likeliest (this one) first

    double secondsPerBeat() const { return 60.0 / bpm; }
    // Through the tempo map when there is one.
    double beatTime(double beat) const;
};

// One attack found in the audio, timed at sample resolution.
struct TheardOnset {
    double time = 0;        // seconds
    double strength = 0;    // spectral flux at the attack, relative to the song's loud attacks (about 0..2)
    double brightness = 0;  // 0 for a low thud .. 1 for a high tick
    double lowShare = 0;    // the share of the attack below 200 Hz: kicks and bass notes
};

struct TsongAnalysis {
    TbeatGrid grid;
    std::vector<TheardOnset> onsets;
    double seconds = 0;
};

// The audio of a song as the analysis wants it: mono, 44.1 kHz, plus the decoded stereo.
struct TsongAudio {
    std::vector<int16_t> stereo;
    std::vector<float> mono;
    double seconds() const;
};

constexpr int syncSampleRate = 44100;
// Songs shorter than this cannot be charted; there is too little to find a tempo from.
constexpr double shortestSongSeconds = 10.0;
// Longer audio is no song the game's charts can hold; refusing it bounds the memory used.
constexpr double longestSongSeconds = 20 * 60.0;

// Larger files are no song; refusing them before they are read bounds the memory and time used.
constexpr uintmax_t largestSongFileBytes = uintmax_t{200} << 20;

// Whether the file at path can be a song, judged without reading it whole: a regular file of at
// most largestSongFileBytes that begins as an MP3 does (an ID3 tag or an MPEG audio frame). The
// empty string, else a one-line reason.
std::string songFileComplaint(const std::string& path);
// The whole file once songFileComplaint has nothing against it: the empty string, else the reason.
std::string readSongFile(const std::string& path, std::vector<uint8_t>& bytes);

// Reads and decodes an MP3 and checks that it holds a song: the empty string, else a one-line
// reason (too large, not an MP3, broken, silent, too short).
std::string readSongAudio(const std::string& path, TsongAudio& audio);
// The same for MP3 bytes already in memory.
std::string decodeSongAudio(std::vector<uint8_t> bytes, TsongAudio& audio);

// Whether a stretch of sixteen beats keeps a beat: enough of its onsets, and enough of their
// strength, sit near the grid's half-beats (once the stretch's own shift is allowed for).
bool keepsABeat(size_t onsetsNearBeats, double shareNearBeats);
// Whether a level's beats carry a backbeat, from the mean loudness of its louder and weaker
// alternating beats and of its off-beats: the two sets differ as a snare and a kick do, and both
// stand well above the off-beats.
bool looksLikeBackbeat(double louderBeats, double weakerBeats, double offBeats);
// Whether an attack is a slow one, timed at the foot of its swell rather than at its sharpest rise:
// from how suddenly its high frequencies rise there (energy after against before, in 3 ms) and
// how long its level swells before that.
bool isSlowAttack(double sharpestRise, double swellSeconds);
// Whether a level's off-beats are an afterbeat chord (a skank) rather than beats, from the mean low
// (below 200 Hz) and bright accents of its beats and of its off-beats.
bool looksLikeSkank(double beatsLow, double offBeatsLow, double beatsBright, double offBeatsBright);
// Whether one tempo explains the song: no stretch with a beat strays further from the grid.
bool isSteadyTempo(double largestDeviationMs);

// Onsets, tempo and first beat of mono audio at syncSampleRate.
TsongAnalysis analyseSong(const std::vector<float>& mono);
// The grid of a drifting song made to follow its local beats: a segment every bar, each fitted to the
// onsets around it, so a chart written with those tempo changes stays on the beat as the tempo wanders.
TbeatGrid followDrift(const TsongAnalysis& analysis);

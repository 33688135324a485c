// Music streams and sound effects on one audio device, with a millisecond music clock.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

// Starts the audio output (the device, or the silent clocked output) and pauses or resumes
// everything that plays.
class Tsounds {
public:
    Tsounds();
    void pauseAll();
    void resumeAll();
};

struct TstreamHandle;

// One music file played as a stream, with its position and length in milliseconds.
class Tstream {
public:
    Tstream();
    ~Tstream();
    // Opens the file (replacing any previous stream); null when it cannot be opened or decoded.
    TstreamHandle* open(const std::string& fileName);
    void play();
    void stop();
    bool looping() const;
    void setLooping(bool value);
    // The position heard now (the frame the output plays), in ms; 0 without a stream.
    int32_t positionMS() const;
    // The frames handed to the output, interpolated from the time of the last block, in ms.
    int32_t writePositionMS() const;
    void setPositionMS(int32_t milliseconds);
    bool isFinished() const;
    int32_t lengthMS() const;
    // The position counted only when the output takes a block (what was handed over), in ms.
    int32_t handedOverMS() const;
    // Plays the music at the rate (0.5 to 2, pitch kept) from the next block, its position still
    // in song ms; returns the rate in force, 1 when the stretcher cannot start.
    double setRate(double rate);

private:
    friend class Tsfx;
    std::shared_ptr<TstreamHandle> handle;
    bool loopingFlag = false;
};

struct TsampleHandle;

// One short effect, decoded whole into memory, played on any free channel.
class Tsfx {
public:
    Tsfx();
    ~Tsfx();
    TsampleHandle* load(const std::string& fileName);
    // Takes interleaved 16-bit stereo samples made by the program (a metronome click); null when
    // there are none.
    TsampleHandle* use(std::vector<int16_t> stereoSamples);
    void play();
    // Plays it so that it is heard delayMs from now, or as soon after as the output can; returns
    // how long from now it is heard, nothing when it cannot play.
    std::optional<double> playAfter(double delayMs);
    // Plays it so that it is heard when the music plays songMs (at whatever rate it plays);
    // returns when on the high-resolution clock, nothing when the music has not played yet
    // (as right after a seek) or it cannot play.
    std::optional<double> playAtSongTime(const Tstream& music, double songMs);
    // Silences it wherever it plays or is still to start.
    void stop();
    // Length in samples (frames).
    int32_t length() const;

private:
    std::shared_ptr<TsampleHandle> sample;
};

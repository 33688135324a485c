// Plays music faster or slower with its pitch kept, through Rubber Band's real-time stretcher.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

struct TstretcherLibrary;

// The slowest and fastest music rate, and the step a player changes it by.
constexpr double slowestRate = 0.5;
constexpr double fastestRate = 2.0;

// One stereo stretcher at the output rate. The library is loaded when the first one starts, so a
// machine without it still plays music at its own speed.
class TtimeStretcher {
public:
    // A stretcher at the rate (song frames per output frame), or null with the reason in failure.
    static std::unique_ptr<TtimeStretcher> start(double rate, std::string& failure);
    ~TtimeStretcher();
    TtimeStretcher(const TtimeStretcher&) = delete;
    TtimeStretcher& operator=(const TtimeStretcher&) = delete;

    // How many output frames after the song time the rate gives them its sound is heard (its
    // processing lands sound a little off the plain start delay); measured once a rate, so a
    // caller that must not wait asks for it first.
    static double lagFramesAt(double rate);
    double lagFrames() const { return lagFramesAt(currentRate); }

    // Forgets everything fed and starts again at the rate: the next frame out is the next fed.
    void restart(double rate);
    // Takes effect on the frames fed from now on.
    void setRate(double rate);
    double rate() const { return currentRate; }
    // Song frames it needs before more can come out.
    size_t framesWanted() const;
    // Feeds interleaved stereo frames (sums of the mixer, saturated here); final after the last.
    void feed(const int32_t* frames, size_t count, bool final);
    // Stretched frames ready, after the start's padding was dropped.
    size_t framesReady();
    // Adds up to count stretched frames to mix; returns how many.
    size_t mixInto(int32_t* mix, size_t count);
    // Output frames between a rate change and the first frame it applies to.
    size_t delayFrames() const { return startDelay; }

private:
    TtimeStretcher(std::shared_ptr<const TstretcherLibrary> library, void* state, double rate);
    void padStart();
    size_t dropPadding();

    std::shared_ptr<const TstretcherLibrary> library;
    void* state = nullptr;
    double currentRate = 1.0;
    size_t startDelay = 0;
    size_t paddingLeft = 0;
    std::vector<float> left;
    std::vector<float> right;
};

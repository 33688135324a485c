// Rubber Band's real-time stretcher, loaded with dlopen so that a missing library means 1.00x.
#include "platform/sound/timeStretcher.h"

#include <dlfcn.h>
#include <rubberband/rubberband-c.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <limits>
#include <map>
#include <mutex>

#include "platform/sound/audioDecoder.h"

// The entry points of the library the stretcher uses, all found or the library is not used.
struct TstretcherLibrary {
    void* handle = nullptr;
    decltype(&rubberband_new) create = nullptr;
    decltype(&rubberband_delete) destroy = nullptr;
    decltype(&rubberband_reset) reset = nullptr;
    decltype(&rubberband_set_time_ratio) setTimeRatio = nullptr;
    decltype(&rubberband_set_max_process_size) setMaxProcessSize = nullptr;
    decltype(&rubberband_get_preferred_start_pad) startPad = nullptr;
    decltype(&rubberband_get_start_delay) startDelay = nullptr;
    decltype(&rubberband_get_samples_required) samplesRequired = nullptr;
    decltype(&rubberband_process) process = nullptr;
    decltype(&rubberband_available) available = nullptr;
    decltype(&rubberband_retrieve) retrieve = nullptr;
};

namespace {

// Pieces fed to and taken from the library at most at once.
constexpr size_t largestPiece = 4096;
constexpr float sampleScale = 32768.0f;
// The finer engine with its short window: a beat lands within a ms of where its song time says
// whatever its pitch, where the standard window moves a high click 2 to 5 ms from a low one and
// the faster engine strays by 2 to 8 ms. It costs about 6% of a core, a third of the standard window's.
constexpr RubberBandOptions stretchOptions = RubberBandOptionProcessRealTime | RubberBandOptionEngineFiner |
                                             RubberBandOptionWindowShort | RubberBandOptionPitchHighConsistency |
                                             RubberBandOptionChannelsTogether;
// The clicks the lag is measured on: one every probeSpacing frames, probeClickFrames long.
constexpr size_t probeClicks = 6;
constexpr size_t probeSpacing = 8820;
constexpr size_t probeClickFrames = 40;
constexpr size_t probeReach = 2000;
// Faint noise in the granule before each click: every MP3 click has such a pre-echo, and the
// stretcher places a sound that rises out of one milliseconds away from one out of silence.
constexpr float probeNoise = 0.001f;
constexpr size_t probePreEcho = 400;

// TRELLIK_RUBBERBAND names another file, for trying a machine without the library.
std::string libraryFileName() {
    const char* chosen = std::getenv("TRELLIK_RUBBERBAND");
    return chosen && *chosen ? chosen : "librubberband.so.2";
}

template <typename Tfunction>
bool findSymbol(void* handle, const char* name, Tfunction& into) {
    into = reinterpret_cast<Tfunction>(dlsym(handle, name));
    return into != nullptr;
}

std::shared_ptr<const TstretcherLibrary> loadLibrary(const std::string& fileName, std::string& failure) {
    void* handle = dlopen(fileName.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!handle) {
        failure = "cannot load " + fileName;
        return nullptr;
    }
    auto library = std::make_shared<TstretcherLibrary>();
    library->handle = handle;
    const bool complete = findSymbol(handle, "rubberband_new", library->create) &&
                          findSymbol(handle, "rubberband_delete", library->destroy) &&
                          findSymbol(handle, "rubberband_reset", library->reset) &&
                          findSymbol(handle, "rubberband_set_time_ratio", library->setTimeRatio) &&
                          findSymbol(handle, "rubberband_set_max_process_size", library->setMaxProcessSize) &&
                          findSymbol(handle, "rubberband_get_preferred_start_pad", library->startPad) &&
                          findSymbol(handle, "rubberband_get_start_delay", library->startDelay) &&
                          findSymbol(handle, "rubberband_get_samples_required", library->samplesRequired) &&
                          findSymbol(handle, "rubberband_process", library->process) &&
                          findSymbol(handle, "rubberband_available", library->available) &&
                          findSymbol(handle, "rubberband_retrieve", library->retrieve);
    if (!complete) {
        failure = fileName + " is too old (it lacks the real-time start padding)";
        dlclose(handle);
        return nullptr;
    }
    return library;
}

// Loaded once for the program and kept: stretchers come and go with every rate change. A failed
// load is tried again at the next start, which costs a dlopen only where the music changes speed.
std::shared_ptr<const TstretcherLibrary> sharedLibrary(std::string& failure) {
    static std::mutex lock;
    static std::shared_ptr<const TstretcherLibrary> library;
    static std::string loadedName;
    const std::string fileName = libraryFileName();
    std::lock_guard<std::mutex> guard(lock);
    if (library && loadedName == fileName) return library;
    std::shared_ptr<const TstretcherLibrary> loaded = loadLibrary(fileName, failure);
    if (!loaded) return nullptr;
    library = std::move(loaded);
    loadedName = fileName;
    return library;
}

RubberBandState asState(void* state) {
    return static_cast<RubberBandState>(state);
}

int32_t toSample(float value) {
    return static_cast<int32_t>(std::clamp(value * sampleScale, -sampleScale, sampleScale - 1.0f));
}

// Everything a stretcher gives for the input, its start padding dropped, as the mixer takes it.
std::vector<float> stretchedOnce(const TstretcherLibrary& library, const std::vector<float>& input, double rate) {
    RubberBandState state = library.create(audioRate, 1, stretchOptions, 1.0 / rate, 1.0);
    std::vector<float> output;
    if (!state) return output;
    const std::vector<float> pad(library.startPad(state), 0.0f);
    const float* padChannels[] = {pad.data()};
    if (!pad.empty()) library.process(state, padChannels, static_cast<unsigned int>(pad.size()), 0);
    const size_t drop = library.startDelay(state);
    size_t fed = 0;
    while (fed < input.size()) {
        const size_t piece = std::clamp<size_t>(library.samplesRequired(state), 1, input.size() - fed);
        const float* channels[] = {input.data() + fed};
        fed += piece;
        library.process(state, channels, static_cast<unsigned int>(piece), fed == input.size());
        std::vector<float> ready(static_cast<size_t>(std::max(library.available(state), 0)));
        float* into[] = {ready.data()};
        if (!ready.empty()) library.retrieve(state, into, static_cast<unsigned int>(ready.size()));
        output.insert(output.end(), ready.begin(), ready.end());
    }
    library.destroy(state);
    output.erase(output.begin(), output.begin() + static_cast<std::ptrdiff_t>(std::min(drop, output.size())));
    return output;
}

// How many output frames after its song time the stretcher's sound lands at a rate: the mean
// distance of the energy centres of clicks from where the rate puts them.
double measureLag(const TstretcherLibrary& library, double rate) {
    std::vector<float> input((probeClicks + 1) * probeSpacing, 0.0f);
    uint32_t noise = 12345;
    for (size_t click = 1; click <= probeClicks; ++click) {
        for (size_t i = click * probeSpacing - probePreEcho; i < click * probeSpacing; ++i) {
            noise = noise * 1664525u + 1013904223u;
            input[i] = probeNoise * (static_cast<float>(noise >> 8) / static_cast<float>(1u << 24) * 2.0f - 1.0f);
        }
        std::fill_n(input.begin() + static_cast<std::ptrdiff_t>(click * probeSpacing), probeClickFrames, 0.5f);
    }
    const std::vector<float> output = stretchedOnce(library, input, rate);
    double total = 0.0;
    for (size_t click = 1; click <= probeClicks; ++click) {
        const double expected = (static_cast<double>(click * probeSpacing) + (probeClickFrames - 1) / 2.0) / rate;
        const auto from = static_cast<size_t>(std::max(0.0, expected - probeReach));
        const size_t to = std::min(output.size(), static_cast<size_t>(expected) + probeReach);
        double weighted = 0.0;
        double energy = 0.0;
        for (size_t i = from; i < to; ++i) {
            weighted += static_cast<double>(output[i]) * output[i] * static_cast<double>(i);
            energy += static_cast<double>(output[i]) * output[i];
        }
        if (energy > 0.0) total += weighted / energy - expected;
    }
    return total / probeClicks;
}

// Measured once a rate for the program: a few hundredths of a second of work each.
double lagAtRate(const TstretcherLibrary& library, double rate) {
    static std::mutex lock;
    static std::map<int64_t, double> measured;
    const int64_t key = std::llround(rate * 10000.0);
    {
        std::lock_guard<std::mutex> guard(lock);
        const auto found = measured.find(key);
        if (found != measured.end()) return found->second;
    }
    const double lag = measureLag(library, rate);
    std::lock_guard<std::mutex> guard(lock);
    measured[key] = lag;
    return lag;
}

}  // namespace

double TtimeStretcher::lagFramesAt(double rate) {
    std::string failure;
    const std::shared_ptr<const TstretcherLibrary> library = sharedLibrary(failure);
    return library ? lagAtRate(*library, rate) : 0.0;
}

std::unique_ptr<TtimeStretcher> TtimeStretcher::start(double rate, std::string& failure) {
    std::shared_ptr<const TstretcherLibrary> library = sharedLibrary(failure);
    if (!library) return nullptr;
    RubberBandState state = library->create(audioRate, audioChannels, stretchOptions, 1.0 / rate, 1.0);
    if (!state) {
        failure = "the stretcher did not start";
        return nullptr;
    }
    library->setMaxProcessSize(state, largestPiece);
    return std::unique_ptr<TtimeStretcher>(new TtimeStretcher(std::move(library), state, rate));
}

TtimeStretcher::TtimeStretcher(std::shared_ptr<const TstretcherLibrary> loaded, void* created, double rate)
    : library(std::move(loaded)), state(created), currentRate(rate), left(largestPiece), right(largestPiece) {
    padStart();
}

TtimeStretcher::~TtimeStretcher() {
    library->destroy(asState(state));
}

void TtimeStretcher::restart(double rate) {
    library->reset(asState(state));
    currentRate = rate;
    library->setTimeRatio(asState(state), 1.0 / rate);
    padStart();
}

void TtimeStretcher::setRate(double rate) {
    if (rate == currentRate) return;
    currentRate = rate;
    library->setTimeRatio(asState(state), 1.0 / rate);
    startDelay = library->startDelay(asState(state));
}

// Silence before the first frame and the output it gives dropped: the first frame fed is the
// first frame out, so song time and stretched output line up from the start.
void TtimeStretcher::padStart() {
    size_t pad = library->startPad(asState(state));
    std::fill(left.begin(), left.end(), 0.0f);
    std::fill(right.begin(), right.end(), 0.0f);
    while (pad > 0) {
        const size_t piece = std::min(pad, largestPiece);
        const float* channels[] = {left.data(), right.data()};
        library->process(asState(state), channels, static_cast<unsigned int>(piece), 0);
        pad -= piece;
    }
    startDelay = library->startDelay(asState(state));
    paddingLeft = startDelay;
}

size_t TtimeStretcher::dropPadding() {
    while (paddingLeft > 0) {
        const int ready = library->available(asState(state));
        if (ready <= 0) break;
        const size_t piece = std::min({paddingLeft, static_cast<size_t>(ready), largestPiece});
        float* channels[] = {left.data(), right.data()};
        library->retrieve(asState(state), channels, static_cast<unsigned int>(piece));
        paddingLeft -= piece;
    }
    return paddingLeft;
}

size_t TtimeStretcher::framesWanted() const {
    return library->samplesRequired(asState(state));
}

void TtimeStretcher::feed(const int32_t* frames, size_t count, bool final) {
    size_t done = 0;
    do {
        const size_t piece = std::min(count - done, largestPiece);
        for (size_t i = 0; i < piece; ++i) {
            const int32_t* frame = frames + (done + i) * audioChannels;
            left[i] = static_cast<float>(std::clamp<int32_t>(frame[0], -32768, 32767)) / sampleScale;
            right[i] = static_cast<float>(std::clamp<int32_t>(frame[1], -32768, 32767)) / sampleScale;
        }
        done += piece;
        const float* channels[] = {left.data(), right.data()};
        library->process(asState(state), channels, static_cast<unsigned int>(piece), final && done == count);
    } while (done < count);
}

size_t TtimeStretcher::framesReady() {
    if (dropPadding() > 0) return 0;
    return static_cast<size_t>(std::max(library->available(asState(state)), 0));
}

size_t TtimeStretcher::mixInto(int32_t* mix, size_t count) {
    const size_t ready = framesReady();
    size_t done = 0;
    while (done < std::min(count, ready)) {
        const size_t piece = std::min({count - done, ready - done, largestPiece});
        float* channels[] = {left.data(), right.data()};
        const size_t got = library->retrieve(asState(state), channels, static_cast<unsigned int>(piece));
        for (size_t i = 0; i < got; ++i) {
            mix[(done + i) * audioChannels] += toSample(left[i]);
            mix[(done + i) * audioChannels + 1] += toSample(right[i]);
        }
        done += got;
        if (got < piece) break;
    }
    return done;
}

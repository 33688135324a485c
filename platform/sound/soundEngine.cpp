// Tsounds, Tstream and Tsfx over the program's mixer, and the music clock they feed.
#include "platform/sound/soundEngine.h"

#include <cmath>
#include <mutex>

#include "platform/sound/audioEngine.h"
#include "platform/sound/audioMixer.h"
#include "platform/sound/audioOutput.h"
#include "platform/clockSeam.h"

namespace {

// Effects longer than this (ten minutes) are cut: they are meant to be short.
constexpr size_t longestEffectFrames = size_t{600} * audioRate;

int32_t musicClockPosition();
int32_t musicClockLength();

// The mixer, its output, and the stream whose position is the music clock.
struct TaudioEngine {
    TaudioEngine() {
        setMusicPositionSource(&musicClockPosition);
        setMusicLengthSource(&musicClockLength);
    }
    ~TaudioEngine() {
        setMusicPositionSource(nullptr);
        setMusicLengthSource(nullptr);
        output.reset();
    }

    TaudioMixer mixer{true};
    std::mutex outputLock;
    std::unique_ptr<TaudioOutput> output;
    std::mutex clockLock;
    std::shared_ptr<TstreamHandle> clockStream;
};

TaudioEngine& audioEngine() {
    static TaudioEngine engine;
    return engine;
}

void setClockStream(const std::shared_ptr<TstreamHandle>& stream) {
    TaudioEngine& engine = audioEngine();
    std::lock_guard<std::mutex> guard(engine.clockLock);
    engine.clockStream = stream;
}

void forgetClockStream(const std::shared_ptr<TstreamHandle>& stream) {
    TaudioEngine& engine = audioEngine();
    std::lock_guard<std::mutex> guard(engine.clockLock);
    if (engine.clockStream == stream) engine.clockStream.reset();
}

std::shared_ptr<TstreamHandle> currentClockStream() {
    TaudioEngine& engine = audioEngine();
    std::lock_guard<std::mutex> guard(engine.clockLock);
    return engine.clockStream;
}

int32_t musicClockPosition() {
    return framesToMs(audioEngine().mixer.positionFrames(currentClockStream(), systemHighResolutionMs()));
}

int32_t musicClockLength() {
    return framesToMs(audioEngine().mixer.lengthFrames(currentClockStream()));
}

}  // namespace

TaudioMixer& programMixer() {
    return audioEngine().mixer;
}

void startProgramOutput() {
    TaudioEngine& engine = audioEngine();
    std::lock_guard<std::mutex> guard(engine.outputLock);
    if (!engine.output) engine.output = openAudioOutput(engine.mixer);
}

bool programOutputIsSilent() {
    TaudioEngine& engine = audioEngine();
    std::lock_guard<std::mutex> guard(engine.outputLock);
    return !engine.output || engine.output->isSilent();
}

ToutputReport programOutputReport() {
    TaudioEngine& engine = audioEngine();
    std::lock_guard<std::mutex> guard(engine.outputLock);
    return engine.output ? engine.output->report() : silentClockReport();
}

Tsounds::Tsounds() {
    startProgramOutput();
}

void Tsounds::pauseAll() {
    programMixer().pauseAll(systemHighResolutionMs());
}

void Tsounds::resumeAll() {
    programMixer().resumeAll();
}

// Touching the engine here makes it outlive every stream, also streams with static lifetime.
Tstream::Tstream() {
    audioEngine();
}

Tstream::~Tstream() {
    programMixer().release(handle);
    forgetClockStream(handle);
}

TstreamHandle* Tstream::open(const std::string& fileName) {
    programMixer().release(handle);
    forgetClockStream(handle);
    handle.reset();
    std::vector<uint8_t> bytes;
    if (readWholeFile(fileName, bytes)) handle = programMixer().openStream(std::move(bytes));
    // A new stream does not loop until asked, whatever the flag says: a song opened after a
    // looping preview must still come to its end.
    setClockStream(handle);
    return handle.get();
}

// Playing starts the output too, so music never waits for a clock that was not started (a
// stream that never advanced would never finish).
void Tstream::play() {
    if (!handle) return;
    startProgramOutput();
    programMixer().play(handle);
    setClockStream(handle);
}

void Tstream::stop() {
    programMixer().stop(handle);
}

bool Tstream::looping() const {
    return loopingFlag;
}

void Tstream::setLooping(bool value) {
    loopingFlag = value;
    programMixer().setLooping(handle, value);
}

int32_t Tstream::positionMS() const {
    return framesToMs(programMixer().positionFrames(handle, systemHighResolutionMs()));
}

void Tstream::setPositionMS(int32_t milliseconds) {
    programMixer().seek(handle, msToFrames(milliseconds));
}

bool Tstream::isFinished() const {
    return positionMS() >= lengthMS();
}

int32_t Tstream::lengthMS() const {
    return framesToMs(programMixer().lengthFrames(handle));
}

int32_t Tstream::writePositionMS() const {
    return framesToMs(programMixer().writePositionFrames(handle, systemHighResolutionMs()));
}

int32_t Tstream::handedOverMS() const {
    return framesToMs(programMixer().handedOverFrames(handle));
}

double Tstream::setRate(double rate) {
    return programMixer().setMusicRate(handle, rate);
}

Tsfx::Tsfx() = default;

Tsfx::~Tsfx() = default;

TsampleHandle* Tsfx::load(const std::string& fileName) {
    sample.reset();
    std::vector<uint8_t> bytes;
    if (!readWholeFile(fileName, bytes)) return nullptr;
    return use(decodeWholeMp3(std::move(bytes), longestEffectFrames));
}

TsampleHandle* Tsfx::use(std::vector<int16_t> stereoSamples) {
    sample.reset();
    if (stereoSamples.empty()) return nullptr;
    sample = std::make_shared<TsampleHandle>();
    sample->samples = std::move(stereoSamples);
    return sample.get();
}

void Tsfx::play() {
    if (!sample) return;
    startProgramOutput();
    programMixer().playEffect(sample);
}

std::optional<double> Tsfx::playAfter(double delayMs) {
    if (!sample) return std::nullopt;
    startProgramOutput();
    const double now = systemHighResolutionMs();
    const std::optional<double> heard = programMixer().playEffectHeardAt(sample, now + delayMs, now);
    if (!heard) return std::nullopt;
    return *heard - now;
}

std::optional<double> Tsfx::playAtSongTime(const Tstream& music, double songMs) {
    if (!sample || !music.handle) return std::nullopt;
    const auto frame = static_cast<int64_t>(std::llround(songMs * audioRate / 1000.0));
    return programMixer().playEffectAtSongTime(sample, music.handle, frame, systemHighResolutionMs());
}

void Tsfx::stop() {
    if (sample) programMixer().stopEffect(sample);
}

int32_t Tsfx::length() const {
    return sample ? sample->frameCount() : 0;
}

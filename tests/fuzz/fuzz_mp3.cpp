// Fuzzes MP3 decoding as the sound engine does it: open, play, loop, seek, and decode whole.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "platform/sound/audioMixer.h"

namespace {

// Enough blocks to cross the first decoded piece and a loop restart of a small input.
constexpr int blocksPerRun = 24;

void playFor(TaudioMixer& mixer, int blocks, double& clockMs) {
    std::vector<int16_t> block(512 * audioChannels);
    for (int i = 0; i < blocks; ++i) {
        mixer.decodeAhead();
        mixer.render(block.data(), 512, clockMs);
        clockMs += 11.6;
        mixer.positionFrames(nullptr, clockMs);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::vector<uint8_t> bytes(data, data + size);
    decodeWholeMp3(bytes, audioRate);

    TaudioMixer mixer(false);
    const std::shared_ptr<TstreamHandle> stream = mixer.openStream(bytes);
    if (!stream) return 0;
    double clockMs = 0.0;
    mixer.setLooping(stream, true);
    mixer.play(stream);
    playFor(mixer, blocksPerRun, clockMs);
    mixer.positionFrames(stream, clockMs);
    mixer.seek(stream, mixer.lengthFrames(stream) / 2);
    mixer.setLooping(stream, false);
    playFor(mixer, blocksPerRun, clockMs);
    mixer.pauseAll(clockMs);
    mixer.positionFrames(stream, clockMs);
    return 0;
}

// Fuzz target: any bytes as a ranking request body are read without faults, and presses the
// reader lets through keep their ranges and go through the press rules and the judge.
#include <cmath>
#include <cstdlib>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "engine/playJudge.h"
#include "ranking/rankingRequests.h"

namespace {

// A small chart for the judge: four rows a quarter second apart.
const TsongParser& fuzzChart() {
    static const std::unique_ptr<TsongParser> chart = [] {
        auto made = std::make_unique<TsongParser>();
        for (int row = 0; row < 4; ++row) {
            made->entries[row].time = 1.0 + row * 0.25;
            made->entries[row].bpm = 240.0;
            made->entries[row].panels[row * 5 % 16] = 1;
        }
        made->entryCount = 4;
        made->markerCount = 4;
        return made;
    }();
    return *chart;
}

void checkPlay(const TplaySubmission& play) {
    if (!isSha256Text(play.chartSha256)) __builtin_trap();
    if (play.difficulty < 0 || play.difficulty > 2 || play.rate != 1.0) __builtin_trap();
    if (play.claimedScore < 0 || play.claimedScore > 900000) __builtin_trap();
    for (const TjudgePress& press : play.presses)
        if (press.panel < 0 || press.panel > 15 || !std::isfinite(press.musicMs)) __builtin_trap();
    if (!pressesOutOfOrder(play.presses).empty()) return;
    std::vector<TpressOutcome> outcomes;
    const TplayJudgement judged =
        judgePlay(fuzzChart(), TtimingConstants{}, play.audioOffset, play.presses, outcomes);
    if (judged.score < 0 || judged.score > 900000 || outcomes.size() != play.presses.size()) __builtin_trap();
    pressesRejection(play.presses, outcomes);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string body(reinterpret_cast<const char*>(data), size);
    TplayerRequest player;
    if (!readPlayerRequest(body, player).failed() && (player.name.empty() || player.name.size() > 24)) __builtin_trap();
    TplaySubmission play;
    if (!readPlaySubmission(body, play).failed()) checkPlay(play);
    int32_t audio = 0, visual = 0;
    if (!readOffsetsRequest(body, audio, visual).failed() && (std::abs(audio) > 500 || std::abs(visual) > 500))
        __builtin_trap();
    return 0;
}

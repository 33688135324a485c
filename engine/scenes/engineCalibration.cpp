// The calibration scene: tap with a metronome for the audio offset, then move a marker onto the
// click for the visual offset.
#include <algorithm>
#include <cmath>
#include <optional>
#include <string>
#include <vector>

#include "engine/trellikGL38Engine.h"
#include "platform/SVATimerCode.h"
#include "platform/clockSeam.h"
#include "platform/store/settingsStore.h"
#include "platform/sound/soundEngine.h"

namespace {

// The first click comes a second after the scene opens, so the player is ready for it.
constexpr double firstClickDelayMs = 1000.0;
// The panel lit with each click, and how long it stays lit.
constexpr int32_t litPanel = 5;
constexpr double litMs = 120.0;
// The click: a 15 ms burst of 2 kHz that fades out, at 44.1 kHz stereo.
constexpr int32_t clickRate = 44100;
constexpr double clickHz = 2000.0;
constexpr double clickMs = 15.0;

constexpr float textX = 0.0f;
// At the top of the window, above the panels.
constexpr float firstLineY = 25.0f;

std::vector<int16_t> clickSamples() {
    const auto frames = static_cast<int32_t>(clickMs / 1000.0 * clickRate);
    std::vector<int16_t> samples(2 * static_cast<size_t>(frames));
    for (int32_t i = 0; i < frames; ++i) {
        const double fade = 1.0 - static_cast<double>(i) / frames;
        const double value = 16000.0 * fade * std::sin(2.0 * M_PI * clickHz * i / clickRate);
        samples[2 * i] = static_cast<int16_t>(value);
        samples[2 * i + 1] = static_cast<int16_t>(value);
    }
    return samples;
}

// The click handed over ahead of its beat is not heard after the scene is left.
void stopMetronome(TcalibrationState& calibration) {
    if (calibration.metronome) calibration.metronome->setEnabled(false);
    if (calibration.click) calibration.click->stop();
}

void leaveCalibration(TtrellikGL& game) {
    stopMetronome(game.calibration);
    enterTitle(game);
}

// Left column of the panels moves the marker earlier, right column later.
int32_t visualStepFor(int32_t keyIndex) {
    if (keyIndex < 0) return 0;
    if (keyIndex % 4 == 0) return -visualStepMs;
    if (keyIndex % 4 == 3) return visualStepMs;
    return 0;
}

std::string tapProgressLine(const TcalibrationState& calibration, double now) {
    const int32_t heard = clicksHeardBy(calibration.clickTimes, now);
    if (heard < warmUpBeats) return "Warm-up: " + std::to_string(heard) + " of " + std::to_string(warmUpBeats);
    return "Taps: " + std::to_string(calibration.taps.taps) + " of " + std::to_string(tapsWanted);
}

std::vector<std::string> audioLines(const TcalibrationState& calibration, double now) {
    return {"CALIBRATION: AUDIO OFFSET", "Tap any panel key with each click you hear",
            tapProgressLine(calibration, now), calibration.message, "Escape leaves without saving"};
}

std::vector<std::string> visualLines(const TcalibrationState& calibration) {
    std::string offset = "Visual offset: " + std::to_string(calibration.visualOffset) + " ms";
    return {"CALIBRATION: VISUAL OFFSET", "Move the marker until it lands on the click",
            "Left column keys: earlier   right column keys: later", offset, "Enter saves, Escape leaves"};
}

void drawLitPanel(TtrellikGL& game, double now) {
    const std::vector<double>& clicks = game.calibration.clickTimes;
    const int32_t heard = clicksHeardBy(clicks, now);
    if (heard == 0 || now - clicks[heard - 1] > litMs) return;
    const TpanelCentre& centre = game.panels[litPanel];
    const double edge = game.layout.markerSize;
    drawTintedQuad(game, centre.x, centre.y, edge, edge, 0.5L, 0.6L, 1.0L, 0.8L);
}

// The marker whose approach ends on the next click, drawn as late as the visual offset says.
void drawLandingMarker(TtrellikGL& game, double now) {
    const TcalibrationState& calibration = game.calibration;
    const double drawnAt = now - calibration.visualOffset;
    const std::vector<double>& clicks = calibration.clickTimes;
    const auto coming =
        std::find_if(clicks.begin(), clicks.end(), [drawnAt](double click) { return click >= drawnAt; });
    const double beat = coming != clicks.end() ? *coming : calibration.nextClickHeardMs;
    const double approachMs = game.timing.stateDuration[approach];
    const double progress = 1.0 + (drawnAt - beat) / approachMs;
    if (progress >= 0.0) drawMarkerFrame(game, litPanel, approach, progress);
}

void handleTap(TtrellikGL& game, double atMs) {
    TcalibrationState& calibration = game.calibration;
    if (!calibration.taps.add(calibration.clickTimes, atMs) || !calibration.taps.complete()) return;
    calibration.outcome = outcomeOf(calibration.taps);
    calibration.message = outcomeLine(calibration.outcome);
    // A measurement that cannot be used starts again at once; the clicks go on.
    if (calibration.outcome.verdict != TtapVerdict::ready) calibration.taps = TtapCollection{};
}

void confirmAudio(TtrellikGL& game) {
    TcalibrationState& calibration = game.calibration;
    const bool measured = calibration.taps.complete() && calibration.outcome.verdict == TtapVerdict::ready;
    if (!measured) {
        if (calibration.taps.offsets.empty() && calibration.taps.taps == 0)
            calibration.message = "No taps yet: nothing is saved. Tap with the clicks";
        return;
    }
    keepOffsets(game, calibration.outcome.audioOffset, game.launch.visualOffset);
    calibration.visualOffset = game.launch.visualOffset;
    calibration.phase = TcalibrationState::Tphase::visual;
}

bool audioKeys(TtrellikGL& game, uint16_t key, double atMs) {
    if (key == keyEnter) confirmAudio(game);
    else if (keyIndexOf(game, key) >= 0) handleTap(game, atMs);
    return false;
}

bool visualKeys(TtrellikGL& game, uint16_t key) {
    TcalibrationState& calibration = game.calibration;
    if (key == keyEnter) {
        keepOffsets(game, game.launch.audioOffset, calibration.visualOffset);
        leaveCalibration(game);
        return false;
    }
    calibration.visualOffset = std::clamp(calibration.visualOffset + visualStepFor(keyIndexOf(game, key)), -largestOffset, largestOffset);
    return false;
}

}  // namespace

std::vector<int16_t> metronomeClickSamples() {
    return clickSamples();
}

void startCalibration(TtrellikGL& game) {
    TcalibrationState& calibration = game.calibration;
    calibration.phase = TcalibrationState::Tphase::audio;
    calibration.clickTimes.clear();
    calibration.taps = TtapCollection{};
    calibration.outcome = TtapOutcome{};
    calibration.message.clear();
    calibration.visualOffset = game.launch.visualOffset;
    calibration.nextClickHeardMs = activeClock().highResolutionMs() + firstClickDelayMs;
    if (!calibration.click) {
        calibration.click = std::make_shared<Tsfx>();
        calibration.click->use(clickSamples());
    }
    if (!calibration.metronome) {
        calibration.metronome = new TSVATimer();
        calibration.metronome->setThreadPriority(tpHighest);
        calibration.metronome->setInterval(1);
        calibration.metronome->OnTimer = [&game](TSVATimer&) { metronomeTick(game); };
    }
    calibration.metronome->setEnabled(true);
    if (game.audio.sounds) game.audio.sounds->resumeAll();
    // The menus' dark blue, so the grid's black lines show where the panels are.
    if (TopenGLEngine* window = drawingWindow(game)) window->setClearColor(0, 0, 0.15L, 1);
    installDrawHandler(game, drawCalibration);
    installKeyDownHandler(game, calibrationKeys);
    installKeyUpHandler(game, nullptr);
}

// The output places the click on the frame heard on its beat and says when that is: later than
// the beat when a late tick finds that frame handed over already.
void metronomeTick(TtrellikGL& game) {
    TcalibrationState& calibration = game.calibration;
    const double now = activeClock().highResolutionMs();
    if (now < calibration.nextClickHeardMs - clickLeadMs) return;
    const double delay = calibration.nextClickHeardMs - now;
    const std::optional<double> heardAfter = calibration.click ? calibration.click->playAfter(delay) : std::nullopt;
    calibration.clickTimes.push_back(now + heardAfter.value_or(delay));
    calibration.nextClickHeardMs += metronomeBeatMs;
}

bool drawCalibration(TtrellikGL& game) {
    if (TopenGLEngine* window = drawingWindow(game)) clearScreen(window->customCommands);
    const double now = activeClock().highResolutionMs();
    const TcalibrationState& calibration = game.calibration;
    drawGrid(game);
    if (calibration.phase == TcalibrationState::Tphase::audio) {
        drawLitPanel(game, now);
        drawTextColumn(game, audioLines(calibration, now), textX, firstLineY);
    } else {
        drawLandingMarker(game, now);
        drawTextColumn(game, visualLines(calibration), textX, firstLineY);
    }
    return true;
}

bool calibrationKeys(TtrellikGL& game, uint16_t key, double atMs) {
    if (key == keyEscape) {
        leaveCalibration(game);
        return false;
    }
    if (game.calibration.phase == TcalibrationState::Tphase::audio) return audioKeys(game, key, atMs);
    return visualKeys(game, key);
}

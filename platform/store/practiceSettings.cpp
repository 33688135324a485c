// Reading, writing and stepping the practice choices kept in the settings file.
#include "platform/store/practiceSettings.h"

#include <algorithm>
#include <cctype>
#include <cstdio>

#include "platform/store/settingsStore.h"

namespace {

// The highest start bar kept: far past any song's end, low enough that no sum overflows.
constexpr int32_t lastStartBar = 9999;

// Hundredths from a decimal with one whole digit and at most two after the point ("1", "1.5",
// "0.75"), whatever their range.
std::optional<int32_t> hundredthsFromText(const std::string& text) {
    const size_t point = text.find('.');
    const std::string whole = text.substr(0, point);
    std::string fraction = point == std::string::npos ? "" : text.substr(point + 1);
    const auto isDigit = [](char c) { return std::isdigit(static_cast<unsigned char>(c)) != 0; };
    if (whole.size() != 1 || !isDigit(whole[0]) || fraction.size() > 2 || !std::all_of(fraction.begin(), fraction.end(), isDigit))
        return std::nullopt;
    if (point != std::string::npos && fraction.empty()) return std::nullopt;
    fraction.resize(2, '0');
    return (whole[0] - '0') * 100 + std::stoi(fraction);
}

}  // namespace

bool isChoosableRate(int64_t hundredths) {
    return hundredths >= slowestRateHundredths && hundredths <= fastestRateHundredths &&
           hundredths % rateStepHundredths == 0;
}

int32_t steppedRate(int32_t hundredths, int32_t steps) {
    const int32_t from = isChoosableRate(hundredths) ? hundredths : normalRateHundredths;
    return std::clamp(from + steps * rateStepHundredths, slowestRateHundredths, fastestRateHundredths);
}

std::string rateText(int32_t hundredths) {
    char text[16];
    std::snprintf(text, sizeof text, "%d.%02dx", hundredths / 100, hundredths % 100);
    return text;
}

std::optional<int32_t> rateFromText(const std::string& text) {
    const std::optional<int32_t> hundredths = hundredthsFromText(text);
    if (!hundredths || !isChoosableRate(*hundredths)) return std::nullopt;
    return hundredths;
}

std::string rateRefusal(const std::string& text) {
    const std::optional<int32_t> hundredths = hundredthsFromText(text);
    const std::string quoted = "The rate \"" + text + "\" ";
    if (!hundredths) return quoted + "is not written as 0.75 or 1.5: one digit, then at most two after the point.";
    if (*hundredths < slowestRateHundredths || *hundredths > fastestRateHundredths)
        return quoted + "is outside 0.5 to 2: the music is only stretched that far.";
    if (!isChoosableRate(*hundredths)) return quoted + "is not on a step of 0.05 (as 1.35 or 1.4).";
    return "";
}

void setRateForThisRun(TpracticeChoice& choice, int32_t hundredths) {
    if (choice.keptRateHundredths == 0) choice.keptRateHundredths = choice.rateHundredths;
    choice.rateHundredths = hundredths;
}

void readStoredPractice(const TsettingsStore& store, TpracticeChoice& choice) {
    const int32_t rate = store.readInteger("rate").value_or(normalRateHundredths);
    choice.rateHundredths = isChoosableRate(rate) ? rate : normalRateHundredths;
    choice.practice = store.readBoolean("practice").value_or(false);
    choice.startBar = std::clamp(store.readInteger("practicebar").value_or(1), 1, lastStartBar);
}

void writeStoredPractice(TsettingsStore& store, const TpracticeChoice& choice) {
    const int32_t kept = choice.keptRateHundredths != 0 ? choice.keptRateHundredths : choice.rateHundredths;
    store.writeInteger("rate", isChoosableRate(kept) ? kept : normalRateHundredths);
    store.writeBoolean("practice", choice.practice);
    store.writeInteger("practicebar", std::clamp(choice.startBar, 1, lastStartBar));
}

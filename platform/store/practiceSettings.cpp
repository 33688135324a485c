// Reading, writing and stepping the practice choices kept in the settings file.
#include "platform/store/practiceSettings.h"

#include <algorithm>
#include <cctype>
#include <cstdio>

#include "platform/store/settingsStore.h"

namespace {

// The highest start bar kept: far past any song's end, low enough that no sum overflows.
constexpr int32_t lastStartBar = 9999;

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
    const size_t point = text.find('.');
    const std::string whole = text.substr(0, point);
    std::string fraction = point == std::string::npos ? "" : text.substr(point + 1);
    const auto isDigit = [](char c) { return std::isdigit(static_cast<unsigned char>(c)) != 0; };
    if (whole.size() != 1 || !isDigit(whole[0]) || fraction.size() > 2 || !std::all_of(fraction.begin(), fraction.end(), isDigit))
        return std::nullopt;
    if (point != std::string::npos && fraction.empty()) return std::nullopt;
    fraction.resize(2, '0');
    const int32_t hundredths = (whole[0] - '0') * 100 + std::stoi(fraction);
    if (!isChoosableRate(hundredths)) return std::nullopt;
    return hundredths;
}

void readStoredPractice(const TsettingsStore& store, TpracticeChoice& choice) {
    const int32_t rate = store.readInteger("rate").value_or(normalRateHundredths);
    choice.rateHundredths = isChoosableRate(rate) ? rate : normalRateHundredths;
    choice.practice = store.readBoolean("practice").value_or(false);
    choice.startBar = std::clamp(store.readInteger("practicebar").value_or(1), 1, lastStartBar);
}

void writeStoredPractice(TsettingsStore& store, const TpracticeChoice& choice) {
    store.writeInteger("rate", isChoosableRate(choice.rateHundredths) ? choice.rateHundredths : normalRateHundredths);
    store.writeBoolean("practice", choice.practice);
    store.writeInteger("practicebar", std::clamp(choice.startBar, 1, lastStartBar));
}

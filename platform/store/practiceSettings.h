// The player's practice choices as the settings file keeps them: music rate, practice mode, start bar.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

class TsettingsStore;

// Rates are kept in hundredths, so every step is exact: 0.50x to 2.00x in steps of 0.05x.
constexpr int32_t slowestRateHundredths = 50;
constexpr int32_t fastestRateHundredths = 200;
constexpr int32_t rateStepHundredths = 5;
constexpr int32_t normalRateHundredths = 100;

// What song select offers and keeps between runs.
struct TpracticeChoice {
    int32_t rateHundredths = normalRateHundredths;
    // The rate the settings keep while rateHundredths is one given for this run only; 0 when the
    // rate in force is the kept one.
    int32_t keptRateHundredths = 0;
    bool practice = false;
    // The bar (from 1) a practice play starts at.
    int32_t startBar = 1;
};

// Whether the rate is one a player can choose: within the range and on a step.
bool isChoosableRate(int64_t hundredths);
// The rate one step slower (negative steps) or faster, held to the range.
int32_t steppedRate(int32_t hundredths, int32_t steps);
// "1.50x".
std::string rateText(int32_t hundredths);
// A rate written as a decimal ("1.5", "0.75", "2"), when it is a choosable one.
std::optional<int32_t> rateFromText(const std::string& text);
// Why a rate written as text is not taken ("" when it is): not a decimal, out of range, off a step.
std::string rateRefusal(const std::string& text);
// Plays this run at a rate while the settings go on keeping the chosen one.
void setRateForThisRun(TpracticeChoice& choice, int32_t hundredths);

// Reads the choices; a rate that is not choosable reads as 1.00x, a start bar below 1 as 1.
void readStoredPractice(const TsettingsStore& store, TpracticeChoice& choice);
// Writes the choices (in memory; the caller saves); a rate for this run only is not written.
void writeStoredPractice(TsettingsStore& store, const TpracticeChoice& choice);

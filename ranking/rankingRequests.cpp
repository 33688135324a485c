// Request bodies of the ranking server read with a JSON parser that never throws on bad input.
#include "ranking/rankingRequests.h"

#include <array>
#include <cmath>
#include <nlohmann/json.hpp>

namespace {

using nlohmann::json;

constexpr int32_t offsetLimit = 500;
constexpr int64_t scoreLimit = 900000;
constexpr int32_t highestDifficulty = 2;

TrequestError refusal(const std::string& code, const std::string& message) {
    return {code, message};
}

bool parseObject(const std::string& body, json& value) {
    value = json::parse(body, nullptr, false);
    return !value.is_discarded() && value.is_object();
}

bool isPrintableName(const std::string& name) {
    if (name.empty() || name.size() > playerNameMaxLength) return false;
    if (name.front() == ' ' || name.back() == ' ') return false;
    for (const char c : name)
        if (c < 0x20 || c > 0x7e) return false;
    return true;
}

// A JSON integer within [low, high]; numbers with a fraction and integers past 64 bits are refused.
bool integerWithin(const json& value, int64_t low, int64_t high, int64_t& result) {
    if (value.is_number_unsigned()) {
        if (value.get<uint64_t>() > static_cast<uint64_t>(high)) return false;
        result = static_cast<int64_t>(value.get<uint64_t>());
        return result >= low;
    }
    if (!value.is_number_integer()) return false;
    result = value.get<int64_t>();
    return result >= low && result <= high;
}

bool readInteger(const json& object, const char* field, int64_t low, int64_t high, int64_t& value) {
    const auto found = object.find(field);
    return found != object.end() && integerWithin(*found, low, high, value);
}

TrequestError readIntegers(const json& object, TplaySubmission& play) {
    int64_t value = 0;
    if (!readInteger(object, "difficulty", 0, highestDifficulty, value))
        return refusal("bad_difficulty", "difficulty must be 0, 1 or 2.");
    play.difficulty = static_cast<int32_t>(value);
    if (!readInteger(object, "audio_offset", -offsetLimit, offsetLimit, value))
        return refusal("bad_offset", "audio_offset must be a whole number of ms from -500 to 500.");
    play.audioOffset = static_cast<int32_t>(value);
    if (!readInteger(object, "visual_offset", -offsetLimit, offsetLimit, value))
        return refusal("bad_offset", "visual_offset must be a whole number of ms from -500 to 500.");
    play.visualOffset = static_cast<int32_t>(value);
    if (!readInteger(object, "claimed_score", 0, scoreLimit, value))
        return refusal("bad_claimed_score", "claimed_score must be a whole number from 0 to 900000.");
    play.claimedScore = value;
    return {};
}

bool readPress(const json& item, TjudgePress& press) {
    if (!item.is_array() || item.size() != 2 || !item[1].is_number()) return false;
    int64_t panel = 0;
    if (!integerWithin(item[0], 0, 15, panel)) return false;
    press.panel = static_cast<int32_t>(panel);
    press.musicMs = item[1].get<double>();
    return std::isfinite(press.musicMs);
}

TrequestError readPresses(const json& object, std::vector<TjudgePress>& presses) {
    const auto found = object.find("presses");
    if (found == object.end() || !found->is_array())
        return refusal("bad_presses", "presses must be a list of [panel, music_ms] pairs.");
    presses.reserve(found->size());
    for (const json& item : *found) {
        TjudgePress press;
        if (!readPress(item, press))
            return refusal("bad_presses", "Each press must be [panel 0..15, music_ms], music_ms a number.");
        presses.push_back(press);
    }
    return {};
}

}  // namespace

bool isSha256Text(const std::string& text) {
    if (text.size() != 64) return false;
    for (const char c : text)
        if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'))) return false;
    return true;
}

TrequestError readPlayerRequest(const std::string& body, TplayerRequest& request) {
    json object;
    if (!parseObject(body, object)) return refusal("bad_json", "The body must be a JSON object.");
    const auto name = object.find("name");
    if (name == object.end() || !name->is_string()) return refusal("bad_name", "name must be text.");
    request.name = name->get<std::string>();
    if (!isPrintableName(request.name))
        return refusal("bad_name", "A name has 1 to 24 printable characters and no space at either end.");
    return {};
}

TrequestError readPlaySubmission(const std::string& body, TplaySubmission& play) {
    json object;
    if (!parseObject(body, object)) return refusal("bad_json", "The body must be a JSON object.");
    const auto chart = object.find("chart_sha256");
    if (chart == object.end() || !chart->is_string() || !isSha256Text(chart->get<std::string>()))
        return refusal("bad_chart_sha256", "chart_sha256 must be 64 lowercase hexadecimal digits.");
    play.chartSha256 = chart->get<std::string>();
    const auto rate = object.find("rate");
    if (rate == object.end() || !rate->is_number()) return refusal("bad_rate", "rate must be a number.");
    play.rate = rate->get<double>();
    if (play.rate != 1.0) return refusal("unsupported_rate", "Only plays at rate 1.0 are ranked.");
    if (const TrequestError error = readIntegers(object, play); error.failed()) return error;
    return readPresses(object, play.presses);
}

std::string pressesRejection(const std::vector<TjudgePress>& presses) {
    std::array<double, 16> lastOnPanel;
    lastOnPanel.fill(-INFINITY);
    double previous = -INFINITY;
    for (size_t index = 0; index < presses.size(); ++index) {
        const TjudgePress& press = presses[index];
        const std::string which = "press " + std::to_string(index + 1);
        if (press.musicMs < 0.0) return which + " is before the music started.";
        if (press.musicMs < previous) return which + " is earlier than the press before it.";
        double& last = lastOnPanel[static_cast<size_t>(press.panel)];
        if (press.musicMs == last) return which + " repeats the press before it on its panel.";
        if (press.musicMs - last < fastestRepressMs)
            return which + " comes less than 15 ms after the press before it on its panel.";
        previous = press.musicMs;
        last = press.musicMs;
    }
    return "";
}

// Request bodies of the ranking server read with a JSON parser that never throws on bad input.
#include "ranking/rankingRequests.h"

#include <array>
#include <cmath>
#include <cstdio>
#include <nlohmann/json.hpp>

namespace {

using nlohmann::json;

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

TrequestError readOffsetsRequest(const std::string& body, int32_t& audioOffset, int32_t& visualOffset) {
    json object;
    if (!parseObject(body, object)) return refusal("bad_json", "The body must be a JSON object.");
    for (const auto& [field, value] : {std::pair{"audio_offset", &audioOffset}, std::pair{"visual_offset", &visualOffset}}) {
        const auto found = object.find(field);
        if (found == object.end() || !found->is_number_integer() || *found < -offsetMsLimit || *found > offsetMsLimit)
            return refusal("bad_offset", std::string(field) + " must be a whole number of ms from -500 to 500.");
        *value = found->get<int32_t>();
    }
    return {};
}

std::string pressesOutOfOrder(const std::vector<TjudgePress>& presses) {
    for (size_t index = 1; index < presses.size(); ++index)
        if (presses[index].musicMs < presses[index - 1].musicMs)
            return "press " + std::to_string(index + 1) + " is earlier than the press before it.";
    return "";
}

namespace {

// The first judged press before the music or too soon after the judged press before it on its panel.
std::string judgedPressTooEarly(const std::vector<TjudgePress>& presses, const std::vector<TpressOutcome>& outcomes) {
    std::array<double, 16> lastOnPanel;
    lastOnPanel.fill(-INFINITY);
    for (size_t index = 0; index < presses.size() && index < outcomes.size(); ++index) {
        if (outcomes[index].judgement == idle) continue;
        const TjudgePress& press = presses[index];
        const std::string which = "press " + std::to_string(index + 1);
        if (press.musicMs < 0.0) return which + " is before the music started.";
        double& last = lastOnPanel[static_cast<size_t>(press.panel)];
        if (press.musicMs == last) return which + " repeats the press before it on its panel.";
        if (press.musicMs - last < fastestRepressMs)
            return which + " comes less than 15 ms after the press before it on its panel.";
        last = press.musicMs;
    }
    return "";
}

std::string tooExact(const std::vector<TpressOutcome>& outcomes) {
    int32_t judged = 0, exact = 0;
    for (const TpressOutcome& outcome : outcomes) {
        if (outcome.judgement == idle) continue;
        ++judged;
        if (std::fabs(outcome.distanceMs) < exactWithinMs) ++exact;
    }
    if (exact < exactPressesNoticed || exact * 2 <= judged) return "";
    return std::to_string(exact) + " of " + std::to_string(judged) +
           " judged presses land exactly on the beat, which no person does.";
}

std::string tooEven(const std::vector<TpressOutcome>& outcomes) {
    double sum = 0.0;
    int32_t judged = 0;
    for (const TpressOutcome& outcome : outcomes)
        if (outcome.judgement != idle) sum += outcome.distanceMs, ++judged;
    if (judged < evenPressesNoticed) return "";
    const double mean = sum / judged;
    double squares = 0.0;
    for (const TpressOutcome& outcome : outcomes)
        if (outcome.judgement != idle) squares += (outcome.distanceMs - mean) * (outcome.distanceMs - mean);
    const double spread = std::sqrt(squares / judged);
    if (spread >= narrowestSpreadMs) return "";
    char text[32];
    std::snprintf(text, sizeof text, "%.3f", spread);
    return "The " + std::to_string(judged) + " judged presses spread only " + text +
           " ms about their mean (standard deviation); a person's spread at least 3 ms.";
}

}  // namespace

std::string pressesRejection(const std::vector<TjudgePress>& presses, const std::vector<TpressOutcome>& outcomes) {
    std::string reason = judgedPressTooEarly(presses, outcomes);
    if (reason.empty()) reason = tooExact(outcomes);
    if (reason.empty()) reason = tooEven(outcomes);
    return reason;
}

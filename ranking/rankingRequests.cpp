// Request bodies of the ranking server read with a JSON parser that never throws on bad input.
#include "ranking/rankingRequests.h"

#include <array>
#include <cmath>
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

// A play body read in one pass with the JSON library's event reader: a 1000-press play builds no
// tree of values, which was most of the server's time per play.
#include <cmath>
#include <nlohmann/json.hpp>

#include "ranking/rankingRequests.h"

namespace {

using nlohmann::json;

constexpr int32_t offsetLimit = offsetMsLimit;
constexpr int64_t scoreLimit = 900000;
constexpr int32_t highestDifficulty = 2;

// One field's value as read: only numbers and text are kept, anything else is "other".
struct Tscalar {
    enum class Kind { missing, integer, unsigned_, real, text, other };
    Kind kind = Kind::missing;
    int64_t integer = 0;
    uint64_t unsignedInteger = 0;
    double real = 0.0;
    std::string text;

    static Tscalar of(Kind kind) {
        Tscalar scalar;
        scalar.kind = kind;
        return scalar;
    }
    bool isNumber() const { return kind == Kind::integer || kind == Kind::unsigned_ || kind == Kind::real; }
    double asDouble() const {
        if (kind == Kind::integer) return static_cast<double>(integer);
        if (kind == Kind::unsigned_) return static_cast<double>(unsignedInteger);
        return real;
    }
    // A whole number within [low, high]; numbers with a fraction and integers past 64 bits are refused.
    bool integerWithin(int64_t low, int64_t high, int64_t& result) const {
        if (kind == Kind::unsigned_) {
            if (unsignedInteger > static_cast<uint64_t>(high)) return false;
            result = static_cast<int64_t>(unsignedInteger);
            return result >= low;
        }
        if (kind != Kind::integer) return false;
        result = integer;
        return result >= low && result <= high;
    }
};

// Follows the reader's events: the top object's fields, and inside "presses" each [panel, ms] pair.
class TplayEvents {
public:
    Tscalar chart, difficulty, rate, audioOffset, visualOffset, claimedScore;
    enum class Presses { missing, list, notList };
    Presses pressesState = Presses::missing;
    bool pressesBad = false;
    bool topIsObject = false;
    std::vector<TjudgePress> presses;

    bool null() { return value(Tscalar::of(Tscalar::Kind::other)); }
    bool boolean(bool) { return value(Tscalar::of(Tscalar::Kind::other)); }
    bool number_integer(json::number_integer_t number) {
        Tscalar scalar = Tscalar::of(Tscalar::Kind::integer);
        scalar.integer = number;
        return value(scalar);
    }
    bool number_unsigned(json::number_unsigned_t number) {
        Tscalar scalar = Tscalar::of(Tscalar::Kind::unsigned_);
        scalar.unsignedInteger = number;
        return value(scalar);
    }
    bool number_float(json::number_float_t number, const json::string_t&) {
        Tscalar scalar = Tscalar::of(Tscalar::Kind::real);
        scalar.real = number;
        return value(scalar);
    }
    bool string(json::string_t& text) {
        Tscalar scalar = Tscalar::of(Tscalar::Kind::text);
        scalar.text = std::move(text);
        return value(scalar);
    }
    bool binary(json::binary_t&) { return value(Tscalar::of(Tscalar::Kind::other)); }
    bool start_object(std::size_t) { return open(false); }
    bool end_object() { return close(); }
    bool start_array(std::size_t) { return open(true); }
    bool end_array() { return close(); }
    bool key(json::string_t& name) {
        if (depth_ == 1) key_ = std::move(name);
        return true;
    }
    bool parse_error(std::size_t, const std::string&, const nlohmann::detail::exception&) { return false; }

private:
    int depth_ = 0;
    std::string key_;
    bool inPresses_ = false;
    int pressItems_ = 0;
    TjudgePress press_;

    Tscalar* fieldNamed(const std::string& name) {
        if (name == "chart_sha256") return &chart;
        if (name == "difficulty") return &difficulty;
        if (name == "rate") return &rate;
        if (name == "audio_offset") return &audioOffset;
        if (name == "visual_offset") return &visualOffset;
        if (name == "claimed_score") return &claimedScore;
        return nullptr;
    }

    // A value that is not an object or list.
    bool value(const Tscalar& scalar) {
        if (depth_ == 0) return true;  // a bare value: the top is not an object
        if (depth_ == 1) {
            if (key_ == "presses") pressesState = Presses::notList;
            else if (Tscalar* field = fieldNamed(key_)) *field = scalar;
            return true;
        }
        if (inPresses_ && depth_ == 2) pressesBad = true;  // a press that is not a pair
        if (inPresses_ && depth_ == 3) pressItem(scalar);
        return true;
    }

    void pressItem(const Tscalar& scalar) {
        int64_t panel = 0;
        // The API numbers panels in key order, row by row as a chart's grid; the judge by column.
        if (pressItems_ == 0 && scalar.integerWithin(0, 15, panel))
            press_.panel = transposeIndex(static_cast<int32_t>(panel));
        else if (pressItems_ == 1 && scalar.isNumber() && std::isfinite(scalar.asDouble()))
            press_.musicMs = scalar.asDouble();
        else pressesBad = true;
        ++pressItems_;
    }

    bool open(bool list) {
        if (depth_ == 0) topIsObject = !list;
        if (depth_ == 1) {
            if (key_ == "presses" && list) {
                pressesState = Presses::list;
                pressesBad = false;
                presses.clear();
                inPresses_ = true;
            } else if (key_ == "presses") {
                pressesState = Presses::notList;
            } else if (Tscalar* field = fieldNamed(key_)) {
                *field = Tscalar::of(Tscalar::Kind::other);
            }
        }
        if (inPresses_ && depth_ == 2) {
            if (list) pressItems_ = 0;
            else pressesBad = true;
        }
        if (inPresses_ && depth_ >= 3) pressesBad = true;
        ++depth_;
        return true;
    }

    bool close() {
        --depth_;
        if (inPresses_ && depth_ == 2) {
            if (pressItems_ != 2) pressesBad = true;
            presses.push_back(press_);
        }
        if (depth_ == 1) inPresses_ = false;
        return true;
    }
};

TrequestError refusal(const std::string& code, const std::string& message) {
    return {code, message};
}

TrequestError checkIntegers(const TplayEvents& events, TplaySubmission& play) {
    int64_t value = 0;
    if (!events.difficulty.integerWithin(0, highestDifficulty, value))
        return refusal("bad_difficulty", "difficulty must be 0, 1 or 2.");
    play.difficulty = static_cast<int32_t>(value);
    if (!events.audioOffset.integerWithin(-offsetLimit, offsetLimit, value))
        return refusal("bad_offset", "audio_offset must be a whole number of ms from -500 to 500.");
    play.audioOffset = static_cast<int32_t>(value);
    if (!events.visualOffset.integerWithin(-offsetLimit, offsetLimit, value))
        return refusal("bad_offset", "visual_offset must be a whole number of ms from -500 to 500.");
    play.visualOffset = static_cast<int32_t>(value);
    if (!events.claimedScore.integerWithin(0, scoreLimit, value))
        return refusal("bad_claimed_score", "claimed_score must be a whole number from 0 to 900000.");
    play.claimedScore = value;
    return {};
}

}  // namespace

TrequestError readPlaySubmission(const std::string& body, TplaySubmission& play) {
    TplayEvents events;
    if (!json::sax_parse(body, &events) || !events.topIsObject)
        return refusal("bad_json", "The body must be a JSON object.");
    if (events.chart.kind != Tscalar::Kind::text || !isSha256Text(events.chart.text))
        return refusal("bad_chart_sha256", "chart_sha256 must be 64 lowercase hexadecimal digits.");
    play.chartSha256 = events.chart.text;
    if (!events.rate.isNumber()) return refusal("bad_rate", "rate must be a number.");
    play.rate = events.rate.asDouble();
    if (play.rate != 1.0) return refusal("unsupported_rate", "Only plays at rate 1.0 are ranked.");
    if (const TrequestError error = checkIntegers(events, play); error.failed()) return error;
    if (events.pressesState != TplayEvents::Presses::list)
        return refusal("bad_presses", "presses must be a list of [panel, music_ms] pairs.");
    if (events.pressesBad)
        return refusal("bad_presses", "Each press must be [panel 0..15, music_ms], music_ms a number.");
    play.presses = std::move(events.presses);
    return {};
}

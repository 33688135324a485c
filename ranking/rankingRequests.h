// The ranking server's request bodies read and checked, and the rules a play's presses must keep.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "engine/playJudge.h"

// Names of players: this many characters at most, at least one.
constexpr size_t playerNameMaxLength = 24;
// Two presses of one panel closer than this are faster than a person presses.
constexpr double fastestRepressMs = 15.0;

// A request body that could not be read: a short code for programs and a sentence for people.
struct TrequestError {
    std::string code;
    std::string message;
    bool failed() const { return !code.empty(); }
};

struct TplayerRequest {
    std::string name;
};

// A play as the game sends it.
struct TplaySubmission {
    std::string chartSha256;
    int32_t difficulty = 0;
    double rate = 1.0;
    int32_t audioOffset = 0;
    int32_t visualOffset = 0;
    int64_t claimedScore = 0;
    std::vector<TjudgePress> presses;
};

// {"name": "..."}: 1 to 24 printable ASCII characters, not starting or ending with a space.
TrequestError readPlayerRequest(const std::string& body, TplayerRequest& request);
// The play body; every field present, of its type and in its range.
TrequestError readPlaySubmission(const std::string& body, TplaySubmission& play);
// 64 lowercase hexadecimal digits.
bool isSha256Text(const std::string& text);
// Why these presses cannot come from a person playing the song, or "" when they can: out of time
// order, before the music started, or two on one panel less than 15 ms apart (the same moment too).
std::string pressesRejection(const std::vector<TjudgePress>& presses);

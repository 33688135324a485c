// The ranking server's request bodies read and checked, and the rules a play's presses must keep.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "engine/playJudge.h"

// Offsets, audio and visual, are whole ms within this of 0.
constexpr int32_t offsetMsLimit = 500;
// Names of players: this many characters at most, at least one.
constexpr size_t playerNameMaxLength = 24;
// Two judged presses of one panel closer than this are faster than a person presses.
constexpr double fastestRepressMs = 15.0;
// A play with at least this many judged presses, more than half of them exactly (within
// exactWithinMs) on their marker's perfect moment, was made by a program or edited.
constexpr int32_t exactPressesNoticed = 16;
constexpr double exactWithinMs = 0.001;
// From this many judged presses on, their distances from the perfect moment spread at least this
// much (standard deviation, ms) in any person's play: nobody's hands are steadier.
constexpr int32_t evenPressesNoticed = 50;
constexpr double narrowestSpreadMs = 3.0;

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
// {"audio_offset", "visual_offset"}: whole ms from -500 to 500 each.
TrequestError readOffsetsRequest(const std::string& body, int32_t& audioOffset, int32_t& visualOffset);
// The play body; every field present, of its type and in its range.
TrequestError readPlaySubmission(const std::string& body, TplaySubmission& play);
// 64 lowercase hexadecimal digits.
bool isSha256Text(const std::string& text);
// Why these presses cannot be judged, or "": one earlier than the press before it.
std::string pressesOutOfOrder(const std::vector<TjudgePress>& presses);
// Why these presses, judged as outcomes says, cannot come from a person playing the song, or "".
// Only judged presses count: the game keeps presses that judged nothing (a key down while the
// music has not started, a key's chatter) and they change no score. Judged presses must not come
// before the music, nor two on one panel less than 15 ms apart; more than half of them exactly on
// the beat, or spread narrower than any person's, is a program's play.
std::string pressesRejection(const std::vector<TjudgePress>& presses, const std::vector<TpressOutcome>& outcomes);

// Registering players, judging submitted plays with the game's judge, and the leaderboards.
#include "ranking/rankingService.h"

#include <sys/random.h>

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstring>
#include <ctime>
#include <nlohmann/json.hpp>
#include <stdexcept>
#include <thread>
#include <vector>

#include "content/trellikSongDataLoader.h"
#include "platform/clockSeam.h"
#include "platform/store/sha256.h"
#include "ranking/rankingRequests.h"

namespace {

using nlohmann::json;

constexpr double minuteMs = 60000.0;
constexpr double hourMs = 60.0 * minuteMs;
constexpr double dayMs = 24.0 * hourMs;
constexpr size_t chartCacheSize = 64;
constexpr size_t pageCacheSize = 4096;
constexpr size_t playerCacheSize = 100000;
constexpr int32_t defaultLeaderboardLimit = 10;
constexpr int32_t playsListed = 100;

TrankingReply replyOf(int status, const json& body) {
    return {status, body.dump(-1, ' ', false, json::error_handler_t::replace), 0};
}

TrankingReply errorReply(int status, const std::string& code, const std::string& message) {
    return replyOf(status, {{"error", code}, {"message", message}});
}

// A 429: the limit's words, and how long to wait in the message and in Retry-After.
TrankingReply waitReply(const std::string& code, const std::string& limit, int64_t wait) {
    TrankingReply refusal = errorReply(429, code, limit + "; ask again in " + std::to_string(wait) + " s.");
    refusal.retryAfterSeconds = wait;
    return refusal;
}

int64_t wallSeconds() {
    return static_cast<int64_t>(std::time(nullptr));
}

std::string tokenOf(const std::string& authorization) {
    const std::string prefix = "Bearer ";
    if (authorization.size() <= prefix.size() || authorization.compare(0, prefix.size(), prefix) != 0) return "";
    return authorization.substr(prefix.size());
}

bool parseWhole(const std::string& text, int64_t low, int64_t high, int64_t& value) {
    if (text.empty() || text.size() > 18) return false;
    value = 0;
    for (const char c : text) {
        if (c < '0' || c > '9') return false;
        value = value * 10 + (c - '0');
    }
    return value >= low && value <= high;
}

json judgementJson(const TplayJudgement& judged) {
    return {{"score", judged.score}, {"max_combo", judged.maxCombo}, {"perfect", judged.perfect},
            {"great", judged.great}, {"good", judged.good},          {"bad", judged.bad},
            {"miss", judged.miss}};
}

TrankingReply playReply(const TrankedPlay& play, bool alreadyKept) {
    json body = {{"status", play.verified ? "verified" : "rejected"},
                 {"score", play.judged.score},
                 {"reason", play.reason},
                 {"play_id", play.id},
                 {"already_kept", alreadyKept}};
    body["judgement"] = judgementJson(play.judged);
    return replyOf(200, body);
}

json playJson(const TrankedPlay& play) {
    json body = {{"play_id", play.id},          {"chart_sha256", play.chartSha256},
                 {"difficulty", play.difficulty}, {"status", play.verified ? "verified" : "rejected"},
                 {"score", play.judged.score},   {"claimed_score", play.claimedScore},
                 {"reason", play.reason},        {"submitted_at", play.submittedAt}};
    body["judgement"] = judgementJson(play.judged);
    return body;
}

}  // namespace

std::string newPlayerToken() {
    uint8_t bits[32];
    size_t filled = 0;
    while (filled < sizeof bits) {
        const ssize_t got = ::getrandom(bits + filled, sizeof bits - filled, 0);
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) throw std::runtime_error("no random bits from the kernel");
        filled += static_cast<size_t>(got);
    }
    static const char digits[] = "0123456789abcdef";
    std::string token;
    for (const uint8_t byte : bits) {
        token += digits[byte >> 4];
        token += digits[byte & 15];
    }
    return token;
}

std::string packPresses(const std::vector<TjudgePress>& presses) {
    std::string packed;
    packed.reserve(presses.size() * 9);
    for (const TjudgePress& press : presses) {
        packed += static_cast<char>(press.panel);
        uint64_t bits = std::bit_cast<uint64_t>(press.musicMs);
        for (int byte = 0; byte < 8; ++byte, bits >>= 8) packed += static_cast<char>(bits & 0xff);
    }
    return packed;
}

std::string pressesKey(const std::vector<TjudgePress>& presses) {
    std::vector<TjudgePress> rounded = presses;
    for (TjudgePress& press : rounded) press.musicMs = std::round(press.musicMs * 10.0) / 10.0;
    return sha256Hex(packPresses(rounded));
}

int64_t TrequestBudget::secondsToWait(const std::string& caller) {
    const double now = activeClock().highResolutionMs();
    const std::lock_guard<std::mutex> lock(mutex_);
    letGoOfEndedWindows(now);
    Twindow& window = windows_[caller];
    if (window.count == 0 || now - window.startMs >= windowMs_) window = {now, 0};
    if (window.count < perWindow_) {
        window.count += 1;
        return 0;
    }
    return static_cast<int64_t>(std::ceil((windowMs_ - (now - window.startMs)) / 1000.0));
}

size_t TrequestBudget::windowsHeld() {
    const std::lock_guard<std::mutex> lock(mutex_);
    return windows_.size();
}

void TrequestBudget::letGoOfEndedWindows(double now) {
    // Once a window's length: each sweep walks every window, so not on every request.
    if (now - lastSweepMs_ < windowMs_) return;
    lastSweepMs_ = now;
    std::erase_if(windows_, [&](const auto& entry) { return now - entry.second.startMs >= windowMs_; });
}

TrankingService::TrankingService(TrankingStore& store, const TrankingLimits& limits)
    : store_(store),
      limits_(limits),
      budget_(limits.requestsPerMinute, minuteMs),
      registrations_(limits.registrationsPerHour, hourMs),
      newOffsets_(limits.newOffsetsPerDay, dayMs),
      judging_(limits.judgingThreads != 0 ? limits.judgingThreads : std::thread::hardware_concurrency()),
      keeper_(store, limits.largestBatch) {}

TrankingService::~TrankingService() = default;

TrankingReply TrankingService::registerPlayer(const std::string& body, const std::string& address) {
    TplayerRequest request;
    if (const TrequestError error = readPlayerRequest(body, request); error.failed())
        return errorReply(400, error.code, error.message);
    if (const int64_t wait = registrations_.secondsToWait(address); wait > 0)
        return waitReply("too_many_registrations",
                         "At most " + std::to_string(limits_.registrationsPerHour) + " players an hour from one address",
                         wait);
    const std::string token = newPlayerToken();
    const int64_t id = store_.addPlayer(request.name, sha256Hex(token), wallSeconds());
    if (id == 0) return errorReply(409, "name_taken", "Another player has the name " + request.name + ".");
    return replyOf(201, {{"player_id", id}, {"name", request.name}, {"token", token}});
}

TrankingService::Tcaller TrankingService::admit(const std::string& authorization) {
    const std::string token = tokenOf(authorization);
    const int64_t playerId = token.empty() ? 0 : playerWithToken(sha256Hex(token));
    if (playerId == 0)
        return {0, errorReply(401, "bad_token",
                              "Send the token of a registered player as Authorization: Bearer TOKEN.")};
    const int64_t wait = budget_.secondsToWait(sha256Hex(token));
    if (wait == 0) return {playerId, {}};
    return {0, waitReply("too_many_requests",
                         "At most " + std::to_string(limits_.requestsPerMinute) + " requests a minute", wait)};
}

int64_t TrankingService::playerWithToken(const std::string& tokenSha256) {
    {
        const std::lock_guard<std::mutex> lock(playersMutex_);
        const auto found = playersByToken_.find(tokenSha256);
        if (found != playersByToken_.end()) return found->second;
    }
    const int64_t playerId = store_.playerWithToken(tokenSha256);
    if (playerId == 0) return 0;
    const std::lock_guard<std::mutex> lock(playersMutex_);
    if (playersByToken_.size() >= playerCacheSize) playersByToken_.clear();
    playersByToken_[tokenSha256] = playerId;
    return playerId;
}

std::shared_ptr<const TsongParser> TrankingService::chartFor(const std::string& sha256) {
    {
        const std::lock_guard<std::mutex> lock(chartsMutex_);
        const auto found = charts_.find(sha256);
        if (found != charts_.end()) return found->second;
    }
    const std::optional<std::string> bytes = store_.chartBytes(sha256);
    if (!bytes) return nullptr;
    auto chart = std::make_shared<TsongParser>();
    loadChartFromBytes(*chart, *bytes);
    const std::lock_guard<std::mutex> lock(chartsMutex_);
    if (charts_.size() >= chartCacheSize) charts_.clear();
    charts_[sha256] = chart;
    return chart;
}

std::optional<int32_t> TrankingService::chartDifficulty(const std::string& sha256) {
    {
        const std::lock_guard<std::mutex> lock(chartsMutex_);
        const auto found = difficulties_.find(sha256);
        if (found != difficulties_.end()) return found->second;
    }
    const std::optional<int32_t> owned = store_.chartDifficulty(sha256);
    if (!owned) return std::nullopt;
    const std::lock_guard<std::mutex> lock(chartsMutex_);
    if (difficulties_.size() >= playerCacheSize) difficulties_.clear();
    difficulties_[sha256] = *owned;
    return owned;
}

TrankingReply TrankingService::submitPlay(const std::string& authorization, const std::string& body) {
    const Tcaller caller = admit(authorization);
    if (caller.playerId == 0) return caller.refusal;
    TrankedPlay play;
    {
        const TfairGatePass pass(judging_);
        const TrankingReply refusal = judge(body, caller.playerId, play);
        if (refusal.status != 200) return refusal;
    }
    return keep(play);
}

TrankingReply TrankingService::judge(const std::string& body, int64_t playerId, TrankedPlay& play) {
    TplaySubmission submission;
    if (const TrequestError error = readPlaySubmission(body, submission); error.failed())
        return errorReply(400, error.code, error.message);
    const std::shared_ptr<const TsongParser> chart = chartFor(submission.chartSha256);
    if (!chart)
        return errorReply(409, "need_chart",
                          "This server does not have the chart; PUT it to /v1/charts/" + submission.chartSha256 +
                              " and send the play again.");
    const int64_t pressLimit = int64_t{chart->markerCount} * limits_.pressesPerMarker;
    if (static_cast<int64_t>(submission.presses.size()) > pressLimit)
        return errorReply(413, "too_many_presses",
                          "A play of this chart holds at most " + std::to_string(pressLimit) + " presses.");
    const std::optional<int32_t> owned = chartDifficulty(submission.chartSha256);
    if (owned && *owned != submission.difficulty)
        return errorReply(409, "wrong_difficulty",
                          "This chart is ranked as difficulty " + std::to_string(*owned) + ".");
    play.playerId = playerId;
    play.chartSha256 = submission.chartSha256;
    play.difficulty = submission.difficulty;
    play.rate = submission.rate;
    play.audioOffset = submission.audioOffset;
    play.visualOffset = submission.visualOffset;
    play.claimedScore = submission.claimedScore;
    play.presses = packPresses(submission.presses);
    play.pressesSha256 = pressesKey(submission.presses);
    play.submittedAt = wallSeconds();
    const std::vector<TjudgePress>& presses = submission.presses;
    play.reason = pressesOutOfOrder(presses);
    if (play.reason.empty() && !offsetsKnown(playerId, play.audioOffset, play.visualOffset))
        play.reason = "The offsets (audio " + std::to_string(play.audioOffset) + ", visual " +
                      std::to_string(play.visualOffset) +
                      ") are not ones this player registered before sending the play.";
    if (play.reason.empty()) {
        std::vector<TpressOutcome> outcomes;
        play.judged = judgePlay(*chart, TtimingConstants{}, play.audioOffset, presses, outcomes);
        play.reason = pressesRejection(presses, outcomes);
    }
    if (play.reason.empty() && play.claimedScore != play.judged.score)
        play.reason = "The claimed score " + std::to_string(play.claimedScore) +
                      " is not the score of these presses, " + std::to_string(play.judged.score) + ".";
    if (!play.reason.empty()) play.presses.resize(std::min(play.presses.size(), limits_.rejectedPressesKept * 9));
    return {};
}

bool TrankingService::offsetsKnown(int64_t playerId, int32_t audioOffset, int32_t visualOffset) {
    // The game's own defaults need no registering.
    return (audioOffset == 0 && visualOffset == 0) || store_.offsetsRegistered(playerId, audioOffset, visualOffset);
}

TrankingReply TrankingService::registerOffsets(const std::string& authorization, const std::string& body) {
    const Tcaller caller = admit(authorization);
    if (caller.playerId == 0) return caller.refusal;
    int32_t audio = 0, visual = 0;
    if (const TrequestError error = readOffsetsRequest(body, audio, visual); error.failed())
        return errorReply(400, error.code, error.message);
    const json registered = {{"audio_offset", audio}, {"visual_offset", visual}};
    if (offsetsKnown(caller.playerId, audio, visual)) return replyOf(200, registered);
    if (const int64_t wait = newOffsets_.secondsToWait(std::to_string(caller.playerId)); wait > 0)
        return waitReply("too_many_offsets", "At most " + std::to_string(limits_.newOffsetsPerDay) + " new offsets a day",
                         wait);
    store_.registerOffsets(caller.playerId, audio, visual, wallSeconds());
    return replyOf(201, registered);
}

TrankingReply TrankingService::keep(TrankedPlay& play) {
    const TrankedPlayKept kept = keeper_.keep(std::move(play));
    if (kept.play.verified && !kept.alreadyKept) boardChanged(kept.play.chartSha256, kept.play.difficulty);
    return playReply(kept.play, kept.alreadyKept);
}

TrankingReply TrankingService::putChart(const std::string& authorization, const std::string& sha256,
                                        const std::string& body) {
    const Tcaller caller = admit(authorization);
    if (caller.playerId == 0) return caller.refusal;
    if (!isSha256Text(sha256))
        return errorReply(400, "bad_chart_sha256", "The chart's address must be its SHA-256 in lowercase hex.");
    if (body.size() > limits_.maxChartBytes)
        return errorReply(413, "chart_too_large",
                          "A chart file holds at most " + std::to_string(limits_.maxChartBytes) + " bytes.");
    if (sha256Hex(body) != sha256)
        return errorReply(400, "chart_sha256_mismatch", "The chart file's SHA-256 is not the one in its address.");
    auto chart = std::make_unique<TsongParser>();
    if (!loadChartFromBytes(*chart, body).accepted || chart->markerCount == 0)
        return errorReply(422, "chart_refused", "The game refuses this chart or it has no markers to rank.");
    const bool known = store_.chartBytes(sha256).has_value();
    if (!known) store_.addChart(sha256, body, wallSeconds());
    return replyOf(known ? 200 : 201, {{"chart_sha256", sha256}, {"markers", chart->markerCount}});
}

TrankingReply TrankingService::leaderboard(const std::string& sha256, const std::string& difficultyText,
                                           const std::string& limitText) {
    if (!isSha256Text(sha256))
        return errorReply(400, "bad_chart_sha256", "The chart's address must be its SHA-256 in lowercase hex.");
    int64_t difficulty = 0;
    if (!parseWhole(difficultyText, 0, 2, difficulty))
        return errorReply(400, "bad_difficulty", "difficulty must be 0, 1 or 2.");
    int64_t limit = defaultLeaderboardLimit;
    if (!limitText.empty() && !parseWhole(limitText, 1, limits_.leaderboardMaxLimit, limit))
        return errorReply(400, "bad_limit",
                          "limit must be a whole number from 1 to " +
                              std::to_string(limits_.leaderboardMaxLimit) + ".");
    return leaderboardPage(sha256, static_cast<int32_t>(difficulty), static_cast<int32_t>(limit));
}

void TrankingService::boardChanged(const std::string& sha256, int32_t difficulty) {
    const std::string prefix = sha256 + "/" + std::to_string(difficulty) + "/";
    const std::lock_guard<std::mutex> lock(pagesMutex_);
    ++pagesGeneration_;
    auto page = pages_.lower_bound(prefix);
    while (page != pages_.end() && page->first.compare(0, prefix.size(), prefix) == 0) page = pages_.erase(page);
}

TrankingReply TrankingService::leaderboardPage(const std::string& sha256, int32_t difficulty, int32_t limit) {
    const std::string key = sha256 + "/" + std::to_string(difficulty) + "/" + std::to_string(limit);
    const double now = activeClock().highResolutionMs();
    uint64_t generation = 0;
    {
        const std::lock_guard<std::mutex> lock(pagesMutex_);
        generation = pagesGeneration_;
        const auto found = pages_.find(key);
        if (found != pages_.end() && now - found->second.madeAtMs < limits_.leaderboardCacheMs)
            return found->second.reply;
    }
    const TleaderboardPage page = store_.leaderboard(sha256, difficulty, limit);
    json entries = json::array();
    for (const TleaderboardLine& line : page.lines)
        entries.push_back({{"rank", line.rank},
                           {"player_id", line.playerId},
                           {"name", line.name},
                           {"score", line.score},
                           {"play_id", line.playId}});
    const TrankingReply reply =
        replyOf(200, {{"chart_sha256", sha256}, {"difficulty", difficulty}, {"players", page.players}, {"entries", entries}});
    const std::lock_guard<std::mutex> lock(pagesMutex_);
    if (generation != pagesGeneration_) return reply;
    if (pages_.size() >= pageCacheSize) pages_.clear();
    pages_[key] = {reply, now};
    return reply;
}

TrankingReply TrankingService::playerPlays(const std::string& playerIdText) {
    int64_t playerId = 0;
    const std::optional<std::string> name =
        parseWhole(playerIdText, 1, INT64_MAX, playerId) ? store_.playerName(playerId) : std::nullopt;
    if (!name) return errorReply(404, "no_such_player", "There is no player " + playerIdText + ".");
    json plays = json::array();
    for (const TrankedPlay& play : store_.playsOf(playerId, playsListed)) plays.push_back(playJson(play));
    return replyOf(200, {{"player_id", playerId}, {"name", *name}, {"plays", plays}});
}

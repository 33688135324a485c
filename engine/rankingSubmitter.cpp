// The ranking queue: plays sent with registration, chart uploads and backoff, on a thread of their
// own in the game so that no scene ever waits on the network.
#include "engine/rankingSubmitter.h"

#include <sys/random.h>

#include <algorithm>
#include <chrono>
#include <ctime>
#include <fstream>
#include <iterator>
#include <nlohmann/json.hpp>
#include <random>
#include <stdexcept>

#include "engine/playJudge.h"
#include "platform/store/sha256.h"

namespace {

using nlohmann::json;

constexpr int64_t firstRetrySeconds = 15;
constexpr int64_t longestRetrySeconds = 3600;
// A failed world-best lookup is asked again after this long; the queue is looked at this often.
constexpr int64_t lookupRetrySeconds = 30;
constexpr int64_t longestWaitSeconds = 30;
// The leaderboard lines read to find the player's rank.
constexpr int32_t rankLinesRead = 100;

int64_t wallSeconds() {
    return static_cast<int64_t>(std::time(nullptr));
}

std::string fileBytes(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
}

std::string lookupKey(const std::string& chartSha256, int32_t difficulty) {
    return chartSha256 + "/" + std::to_string(difficulty);
}

}  // namespace

int64_t retryDelaySeconds(int32_t attempts) {
    if (attempts <= 1) return firstRetrySeconds;
    if (attempts > 16) return longestRetrySeconds;
    return std::min(firstRetrySeconds << (attempts - 1), longestRetrySeconds);
}

std::string playRequestBody(const TkeptPlay& play, const std::string& clientPlayId) {
    // Keys pressed together are kept in the order their events were handled, and each one's music
    // time comes from its own event stamp: a few microseconds out of order, which the server takes
    // for an edited play. In time order they are the same play.
    std::vector<TkeptPress> inTimeOrder = play.presses;
    std::stable_sort(inTimeOrder.begin(), inTimeOrder.end(),
                     [](const TkeptPress& a, const TkeptPress& b) { return a.musicMs < b.musicMs; });
    json presses = json::array();
    // The records keep panels column by column; the server takes them in key order, row by row.
    for (const TkeptPress& press : inTimeOrder) presses.push_back({transposeIndex(press.panel), press.musicMs});
    const json body = {{"chart_sha256", play.chartSha256},   {"difficulty", play.difficulty},
                       {"rate", play.rateHundredths / 100.0}, {"audio_offset", play.audioOffset},
                       {"visual_offset", play.visualOffset}, {"claimed_score", play.score},
                       {"presses", presses},                 {"client_play_id", clientPlayId}};
    return body.dump(-1, ' ', false, json::error_handler_t::replace);
}

std::string newClientPlayId() {
    uint8_t bits[16];
    if (::getrandom(bits, sizeof bits, 0) != static_cast<ssize_t>(sizeof bits)) {
        std::random_device device;
        for (uint8_t& byte : bits) byte = static_cast<uint8_t>(device());
    }
    static const char digits[] = "0123456789abcdef";
    std::string text;
    for (const uint8_t byte : bits) text += {digits[byte >> 4], digits[byte & 15]};
    return text;
}

TrankingSender::TrankingSender(TrecordsDatabase& records, const TrankingClient& client, TrankingSettings settings,
                               std::string settingsFile)
    : records(records), client(client), settings(std::move(settings)), settingsFile(std::move(settingsFile)) {}

TsendSummary TrankingSender::sendQueued(int64_t now, int64_t dueBy, const std::atomic<bool>* cancel) {
    TsendSummary summary;
    for (TrankingSubmission& submission : records.queuedSubmissions(dueBy)) {
        if (cancel && cancel->load()) break;
        // The server out of reach for one play is out of reach for the rest.
        if (!sendOne(submission, now, summary)) break;
    }
    summary.waiting = static_cast<int32_t>(records.queuedSubmissions(-1).size());
    return summary;
}

std::vector<std::string> TrankingSender::takeChangedCharts() {
    std::vector<std::string> charts;
    charts.swap(changedCharts);
    return charts;
}

bool TrankingSender::registered(std::string& problem) {
    if (!settings.token.empty()) return true;
    if (settings.playerName.empty()) {
        problem = "no player name is set for the ranking";
        return false;
    }
    const TrankingAnswer answer = readRegisterReply(client.registerPlayer(settings.playerName));
    if (answer.outcome == TrankingOutcome::nameTaken) problem = "the name " + settings.playerName + " is taken";
    if (answer.outcome != TrankingOutcome::verified) {
        if (problem.empty()) problem = answer.message;
        return false;
    }
    settings.token = answer.token;
    settings.playerId = answer.playerId;
    if (settingsFile.empty()) return true;
    try {
        keepRankingRegistration(settingsFile, settings);
    } catch (const std::exception& error) {
        // The token still serves this run; a later one registers again under another name.
        problem = error.what();
    }
    return true;
}

TrankingAnswer TrankingSender::submit(const TkeptPlay& play, const TrankingSubmission& submission) {
    return readPlayReply(client.submitPlay(settings.token, playRequestBody(play, submission.clientPlayId)));
}

TrankingAnswer TrankingSender::submitWithOffsets(const TkeptPlay& play, const TrankingSubmission& submission) {
    const std::pair<int32_t, int32_t> offsets{play.audioOffset, play.visualOffset};
    const bool known = offsets == std::pair<int32_t, int32_t>{0, 0} || registeredOffsets.count(offsets) != 0;
    if (!known) {
        const TrankingAnswer registered =
            readChartReply(client.registerOffsets(settings.token, play.audioOffset, play.visualOffset));
        if (registered.outcome != TrankingOutcome::verified) return registered;
        registeredOffsets.insert(offsets);
    }
    return submit(play, submission);
}

TrankingAnswer TrankingSender::uploadChart(const TkeptPlay& play, const TrankingSubmission& submission) {
    const std::string bytes = fileBytes(submission.chartPath);
    if (bytes.empty() || sha256Hex(bytes) != play.chartSha256) {
        TrankingAnswer gone;
        gone.outcome = TrankingOutcome::refused;
        gone.message = "its chart file is gone or changed since the play";
        return gone;
    }
    return readChartReply(client.putChart(settings.token, play.chartSha256, bytes));
}

bool TrankingSender::sendOne(TrankingSubmission& submission, int64_t now, TsendSummary& summary) {
    const std::optional<TkeptPlay> play = records.play(submission.playId);
    TrankingAnswer answer;
    std::string problem;
    if (!play) {
        answer.outcome = TrankingOutcome::refused;
        answer.message = "the play cannot be read from the records";
    } else if (!registered(problem)) {
        answer.message = problem;
    } else {
        answer = submitWithOffsets(*play, submission);
        if (answer.outcome == TrankingOutcome::badToken) {
            // The server forgot the player (a new database): register again, once.
            settings.token.clear();
            registeredOffsets.clear();
            answer.message = "the server no longer knows this player";
            if (registered(problem)) answer = submitWithOffsets(*play, submission);
        }
        if (answer.outcome == TrankingOutcome::needChart) {
            const TrankingAnswer chart = uploadChart(*play, submission);
            answer = chart.outcome == TrankingOutcome::verified ? submit(*play, submission) : chart;
        }
    }
    if (answer.outcome == TrankingOutcome::verified || answer.outcome == TrankingOutcome::rejected) {
        keepJudged(submission, *play, answer, summary);
        return true;
    }
    if (answer.outcome == TrankingOutcome::refused) {
        submission.state = TsubmissionState::refused;
        submission.note = answer.message;
        records.updateSubmission(submission);
        playLines[submission.playId] = "NOT RANKED: " + answer.message;
        summary.refused += 1;
        return true;
    }
    submission.attempts += 1;
    submission.nextAttemptAt = now + std::max(answer.retryAfterSeconds, retryDelaySeconds(submission.attempts));
    submission.note = answer.message;
    records.updateSubmission(submission);
    playLines[submission.playId] = "RANKING: KEPT TO SEND LATER (" + answer.message + ")";
    summary.problem = answer.message;
    return false;
}

void TrankingSender::keepJudged(TrankingSubmission& submission, const TkeptPlay& play, const TrankingAnswer& answer,
                                TsendSummary& summary) {
    const bool verified = answer.outcome == TrankingOutcome::verified;
    submission.state = verified ? TsubmissionState::verified : TsubmissionState::rejected;
    submission.note = answer.message;
    submission.serverPlayId = answer.serverPlayId;
    submission.serverScore = answer.score;
    records.updateSubmission(submission);
    if (!verified) {
        summary.rejected += 1;
        playLines[submission.playId] = "NOT RANKED: " + answer.message;
        return;
    }
    summary.verified += 1;
    changedCharts.push_back(play.chartSha256);
    const TleaderboardReply board =
        readLeaderboardReply(client.leaderboard(play.chartSha256, play.difficulty, rankLinesRead));
    playLines[submission.playId] =
        board.read ? rankLine(board, settings.playerId) : "RANKED WITH " + std::to_string(answer.score);
}

TrankingSubmitter::TrankingSubmitter(std::string recordsPath, std::string settingsFile, TrankingSettings settings)
    : recordsPath(std::move(recordsPath)), settingsFile(std::move(settingsFile)), settings(std::move(settings)),
      worker([this] { run(); }) {}

TrankingSubmitter::~TrankingSubmitter() {
    stopping = true;
    {
        const std::lock_guard<std::mutex> lock(mutex);
        woken = true;
    }
    wake.notify_all();
    worker.join();
}

void TrankingSubmitter::playQueued(int64_t playId) {
    {
        const std::lock_guard<std::mutex> lock(mutex);
        playLines[playId] = "RANKING: SENDING";
        woken = true;
    }
    wake.notify_all();
}

std::string TrankingSubmitter::lineFor(int64_t playId) const {
    const std::lock_guard<std::mutex> lock(mutex);
    const auto found = playLines.find(playId);
    return found == playLines.end() ? "" : found->second;
}

TworldBest TrankingSubmitter::worldBest(const std::string& chartSha256, int32_t difficulty) {
    const std::string key = lookupKey(chartSha256, difficulty);
    std::unique_lock<std::mutex> lock(mutex);
    const auto found = bests.find(key);
    const bool askAgain = found != bests.end() && found->second.failedAt != 0 &&
                          wallSeconds() - found->second.failedAt >= lookupRetrySeconds;
    if (found != bests.end() && !askAgain) return found->second.best;
    bests[key] = {};
    lookups.push_back(key);
    woken = true;
    lock.unlock();
    wake.notify_all();
    return {};
}

void TrankingSubmitter::lookUpBests(const TrankingClient& client) {
    std::vector<std::string> keys;
    {
        const std::lock_guard<std::mutex> lock(mutex);
        keys.swap(lookups);
    }
    for (const std::string& key : keys) {
        if (stopping) return;
        const size_t slash = key.find('/');
        const TleaderboardReply board =
            readLeaderboardReply(client.leaderboard(key.substr(0, slash), std::stoi(key.substr(slash + 1)), 1));
        TbestLookup lookup;
        lookup.answered = board.read;
        lookup.failedAt = board.read ? 0 : wallSeconds();
        if (!board.entries.empty()) lookup.best = {true, board.entries.front().score, board.entries.front().name};
        const std::lock_guard<std::mutex> lock(mutex);
        bests[key] = lookup;
    }
}

void TrankingSubmitter::takeOutcomes(TrankingSender& sender) {
    const std::vector<std::string> changed = sender.takeChangedCharts();
    const std::lock_guard<std::mutex> lock(mutex);
    for (const auto& [playId, line] : sender.lines()) playLines[playId] = line;
    // A new verified play may be the chart's new world best: asked again when next shown.
    for (const std::string& chart : changed)
        for (auto entry = bests.begin(); entry != bests.end();)
            entry = entry->first.rfind(chart + "/", 0) == 0 ? bests.erase(entry) : std::next(entry);
}

void TrankingSubmitter::waitForWork(int64_t seconds) {
    std::unique_lock<std::mutex> lock(mutex);
    wake.wait_for(lock, std::chrono::seconds(std::clamp<int64_t>(seconds, 1, longestWaitSeconds)),
                  [this] { return woken; });
    woken = false;
}

void TrankingSubmitter::run() {
    TrecordsDatabase records(recordsPath);
    const TrankingClient client(settings.serverUrl, &stopping);
    TrankingSender sender(records, client, settings, settingsFile);
    // The first pass sends what earlier runs left, whatever their backoff said.
    int64_t dueBy = -1;
    while (!stopping) {
        lookUpBests(client);
        const int64_t now = wallSeconds();
        const TsendSummary summary = sender.sendQueued(now, dueBy, &stopping);
        takeOutcomes(sender);
        // A server that judged a play is back: the plays that waited for it go at once.
        const bool serverBack = summary.verified + summary.rejected > 0 && summary.waiting > 0;
        if (serverBack) {
            dueBy = -1;
            continue;
        }
        dueBy = now;
        int64_t nextDue = now + longestWaitSeconds;
        for (const TrankingSubmission& queued : records.queuedSubmissions(-1))
            nextDue = std::min(nextDue, queued.nextAttemptAt);
        waitForWork(nextDue - now);
    }
}

// Ranking requests with libcurl (HTTPS to a reverse proxy as well as plain HTTP on loopback) and
// their replies read with a JSON parser that never throws on bad input.
#include "platform/net/rankingClient.h"

#include <curl/curl.h>
#include <strings.h>

#include <algorithm>
#include <cstring>
#include <limits>
#include <mutex>
#include <nlohmann/json.hpp>

namespace {

using nlohmann::json;

// Replies of this server are small; a larger one is not an answer of it.
constexpr size_t largestReply = 1 << 20;

// What a transfer gathers of the reply, and the flag that abandons it.
struct TreplyReceiver {
    std::string body;
    int64_t retryAfterSeconds = 0;
    bool tooLarge = false;
    const std::atomic<bool>* cancel = nullptr;
};

size_t receiveBody(char* data, size_t size, size_t count, void* user) {
    TreplyReceiver& receiver = *static_cast<TreplyReceiver*>(user);
    if (receiver.body.size() + size * count > largestReply) {
        receiver.tooLarge = true;
        return 0;
    }
    receiver.body.append(data, size * count);
    return size * count;
}

int64_t wholeSeconds(const std::string& text) {
    int64_t value = 0;
    for (const char c : text) {
        if (c < '0' || c > '9' || value > 86400) return 0;
        value = value * 10 + (c - '0');
    }
    return value;
}

size_t receiveHeader(char* data, size_t size, size_t count, void* user) {
    TreplyReceiver& receiver = *static_cast<TreplyReceiver*>(user);
    std::string line(data, size * count);
    const std::string name = "retry-after:";
    if (line.size() > name.size() && strncasecmp(line.c_str(), name.c_str(), name.size()) == 0) {
        std::string value = line.substr(name.size());
        while (!value.empty() && (value.front() == ' ' || value.front() == '\t')) value.erase(0, 1);
        while (!value.empty() && (value.back() == '\r' || value.back() == '\n' || value.back() == ' ')) value.pop_back();
        receiver.retryAfterSeconds = wholeSeconds(value);
    }
    return size * count;
}

int checkCancel(void* user, curl_off_t, curl_off_t, curl_off_t, curl_off_t) {
    const TreplyReceiver& receiver = *static_cast<const TreplyReceiver*>(user);
    return receiver.cancel && receiver.cancel->load() ? 1 : 0;
}

void initialiseCurlOnce() {
    static std::once_flag once;
    std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

std::string withoutTrailingSlash(std::string url) {
    while (!url.empty() && url.back() == '/') url.pop_back();
    return url;
}

json parsedObject(const std::string& body) {
    json value = json::parse(body, nullptr, false);
    return value.is_object() ? value : json::object();
}

std::string textField(const json& object, const char* name) {
    const auto found = object.find(name);
    return found != object.end() && found->is_string() ? found->get<std::string>() : "";
}

int64_t integerField(const json& object, const char* name) {
    const auto found = object.find(name);
    if (found == object.end()) return 0;
    if (found->is_number_unsigned())
        return found->get<uint64_t>() > uint64_t{std::numeric_limits<int64_t>::max()} ? 0 : found->get<int64_t>();
    return found->is_number_integer() ? found->get<int64_t>() : 0;
}

int32_t scoreField(const json& object) {
    const int64_t score = integerField(object, "score");
    return score < 0 || score > std::numeric_limits<int32_t>::max() ? 0 : static_cast<int32_t>(score);
}

// The reading every reply shares: transport failures, refusals and server errors.
TrankingAnswer errorAnswer(const ThttpReply& reply, const json& object) {
    TrankingAnswer answer;
    answer.retryAfterSeconds = reply.retryAfterSeconds;
    if (reply.status == 0) {
        answer.message = reply.failure.empty() ? "no answer" : reply.failure;
        return answer;
    }
    const std::string code = textField(object, "error");
    const std::string message = textField(object, "message");
    answer.message = message.empty() ? "the server answered " + std::to_string(reply.status) : message;
    if (reply.status == 401 || code == "bad_token") answer.outcome = TrankingOutcome::badToken;
    else if (reply.status == 409 && code == "need_chart") answer.outcome = TrankingOutcome::needChart;
    else if (reply.status == 409 && code == "name_taken") answer.outcome = TrankingOutcome::nameTaken;
    else if (reply.status == 429 || reply.status == 408 || reply.status >= 500 || reply.status < 400)
        answer.outcome = TrankingOutcome::retryLater;
    else answer.outcome = TrankingOutcome::refused;
    return answer;
}

bool succeeded(const ThttpReply& reply) {
    return reply.status >= 200 && reply.status <= 299;
}

TrankingAnswer unreadable(const ThttpReply& reply) {
    TrankingAnswer answer;
    answer.message = "the server's answer (" + std::to_string(reply.status) + ") could not be read";
    return answer;
}

}  // namespace

TrankingClient::TrankingClient(std::string baseUrl, const std::atomic<bool>* cancel, TrankingTimeouts timeouts)
    : base(withoutTrailingSlash(std::move(baseUrl))), cancel(cancel), timeouts(timeouts) {}

ThttpReply TrankingClient::registerPlayer(const std::string& name) const {
    return send("POST", "/v1/players", "", json{{"name", name}}.dump(-1, ' ', false, json::error_handler_t::replace),
                "application/json");
}

ThttpReply TrankingClient::submitPlay(const std::string& token, const std::string& body) const {
    return send("POST", "/v1/plays", token, body, "application/json");
}

ThttpReply TrankingClient::putChart(const std::string& token, const std::string& sha256,
                                    const std::string& bytes) const {
    return send("PUT", "/v1/charts/" + sha256, token, bytes, "application/octet-stream");
}

ThttpReply TrankingClient::registerOffsets(const std::string& token, int32_t audioOffset, int32_t visualOffset) const {
    return send("POST", "/v1/offsets", token, json{{"audio_offset", audioOffset}, {"visual_offset", visualOffset}}.dump(),
                "application/json");
}

ThttpReply TrankingClient::leaderboard(const std::string& sha256, int32_t difficulty, int32_t limit) const {
    return send("GET",
                "/v1/charts/" + sha256 + "/" + std::to_string(difficulty) + "/leaderboard?limit=" +
                    std::to_string(limit),
                "", "", nullptr);
}

ThttpReply TrankingClient::send(const std::string& method, const std::string& path, const std::string& token,
                                const std::string& body, const char* contentType) const {
    ThttpReply reply;
    if (base.rfind("http://", 0) != 0 && base.rfind("https://", 0) != 0) {
        reply.failure = "the ranking server's address must start with http:// or https://";
        return reply;
    }
    initialiseCurlOnce();
    CURL* curl = curl_easy_init();
    if (!curl) {
        reply.failure = "the HTTP client could not start";
        return reply;
    }
    TreplyReceiver receiver;
    receiver.cancel = cancel;
    char errorText[CURL_ERROR_SIZE] = {};
    curl_slist* headers = nullptr;
    if (contentType) headers = curl_slist_append(headers, (std::string("Content-Type: ") + contentType).c_str());
    if (!token.empty()) headers = curl_slist_append(headers, ("Authorization: Bearer " + token).c_str());
    const std::string url = base + path;
    curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
    curl_easy_setopt(curl, CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(curl, CURLOPT_USERAGENT, "Trellik-Ranking/1.0");
    curl_easy_setopt(curl, CURLOPT_NOPROXY, "localhost,127.0.0.1,::1");
    curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(curl, CURLOPT_CONNECTTIMEOUT_MS, static_cast<long>(timeouts.connectMs));
    curl_easy_setopt(curl, CURLOPT_TIMEOUT_MS, static_cast<long>(timeouts.totalMs));
    curl_easy_setopt(curl, CURLOPT_CUSTOMREQUEST, method.c_str());
    if (method != "GET") {
        curl_easy_setopt(curl, CURLOPT_POSTFIELDS, body.data());
        curl_easy_setopt(curl, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(body.size()));
    }
    curl_easy_setopt(curl, CURLOPT_HTTPHEADER, headers);
    curl_easy_setopt(curl, CURLOPT_ERRORBUFFER, errorText);
    curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, receiveBody);
    curl_easy_setopt(curl, CURLOPT_WRITEDATA, &receiver);
    curl_easy_setopt(curl, CURLOPT_HEADERFUNCTION, receiveHeader);
    curl_easy_setopt(curl, CURLOPT_HEADERDATA, &receiver);
    curl_easy_setopt(curl, CURLOPT_NOPROGRESS, 0L);
    curl_easy_setopt(curl, CURLOPT_XFERINFOFUNCTION, checkCancel);
    curl_easy_setopt(curl, CURLOPT_XFERINFODATA, &receiver);
    const CURLcode result = curl_easy_perform(curl);
    long status = 0;
    curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &status);
    curl_slist_free_all(headers);
    curl_easy_cleanup(curl);
    if (receiver.tooLarge) reply.failure = "the server's answer is too large";
    else if (result == CURLE_ABORTED_BY_CALLBACK) reply.failure = "cancelled";
    else if (result != CURLE_OK) reply.failure = *errorText ? errorText : curl_easy_strerror(result);
    if (!reply.failure.empty()) return reply;
    reply.status = static_cast<int>(status);
    reply.body = std::move(receiver.body);
    reply.retryAfterSeconds = receiver.retryAfterSeconds;
    return reply;
}

TrankingAnswer readPlayReply(const ThttpReply& reply) {
    const json object = parsedObject(reply.body);
    if (!succeeded(reply)) return errorAnswer(reply, object);
    const std::string status = textField(object, "status");
    if (status != "verified" && status != "rejected") return unreadable(reply);
    TrankingAnswer answer;
    answer.outcome = status == "verified" ? TrankingOutcome::verified : TrankingOutcome::rejected;
    answer.message = textField(object, "reason");
    answer.score = scoreField(object);
    answer.serverPlayId = integerField(object, "play_id");
    return answer;
}

TrankingAnswer readRegisterReply(const ThttpReply& reply) {
    const json object = parsedObject(reply.body);
    if (!succeeded(reply)) return errorAnswer(reply, object);
    TrankingAnswer answer;
    answer.token = textField(object, "token");
    answer.playerId = integerField(object, "player_id");
    // The token goes into an HTTP header: anything but plain printable text is not one.
    const bool tokenSound = !answer.token.empty() && answer.token.size() <= 256 &&
                            answer.token.find_first_not_of("0123456789abcdefABCDEF") == std::string::npos;
    if (!tokenSound || answer.playerId <= 0) return unreadable(reply);
    answer.outcome = TrankingOutcome::verified;
    return answer;
}

TrankingAnswer readChartReply(const ThttpReply& reply) {
    const json object = parsedObject(reply.body);
    if (!succeeded(reply)) return errorAnswer(reply, object);
    TrankingAnswer answer;
    answer.outcome = TrankingOutcome::verified;
    return answer;
}

TleaderboardReply readLeaderboardReply(const ThttpReply& reply) {
    TleaderboardReply board;
    if (!succeeded(reply)) return board;
    const json object = parsedObject(reply.body);
    const auto entries = object.find("entries");
    if (entries == object.end() || !entries->is_array()) return board;
    for (const json& item : *entries) {
        if (!item.is_object()) return {};
        const int64_t rank = integerField(item, "rank");
        if (rank <= 0 || rank > std::numeric_limits<int32_t>::max()) return {};
        board.entries.push_back({static_cast<int32_t>(rank), integerField(item, "player_id"), textField(item, "name"),
                                 scoreField(item)});
    }
    board.players = std::max<int64_t>(integerField(object, "players"), static_cast<int64_t>(board.entries.size()));
    board.read = true;
    return board;
}

std::string rankLine(const TleaderboardReply& board, int64_t playerId) {
    const std::string of = " OF " + std::to_string(board.players);
    for (const TleaderboardEntry& entry : board.entries)
        if (entry.playerId == playerId) return "RANK " + std::to_string(entry.rank) + of;
    return "RANK " + std::to_string(board.entries.size() + 1) + "+" + of;
}

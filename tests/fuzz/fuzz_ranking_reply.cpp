// Fuzz target: any bytes as a ranking server's reply are read without faults, never as a success
// unless the status says so, and the rank line is made from whatever leaderboard was read.
#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/net/rankingClient.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    static const int statuses[] = {200, 201, 400, 401, 409, 429, 500, 0};
    const ThttpReply reply = {statuses[data[0] % 8], std::string(reinterpret_cast<const char*>(data + 1), size - 1),
                              0, ""};
    const bool success = reply.status >= 200 && reply.status <= 299;
    const TrankingAnswer play = readPlayReply(reply);
    if (!success && (play.outcome == TrankingOutcome::verified || play.outcome == TrankingOutcome::rejected))
        __builtin_trap();
    const TrankingAnswer player = readRegisterReply(reply);
    if (player.outcome == TrankingOutcome::verified && (!success || player.token.empty() || player.playerId <= 0))
        __builtin_trap();
    readChartReply(reply);
    const TleaderboardReply board = readLeaderboardReply(reply);
    if (board.read && board.players < static_cast<int64_t>(board.entries.size())) __builtin_trap();
    rankLine(board, 1);
    return 0;
}

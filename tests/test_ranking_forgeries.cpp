// Plays forged on the way to the ranking server are judged again and kept as rejected, off the board.
#include <algorithm>

#include "tests/test_ranking_fixture.h"

namespace {

class TforgedPlayTest : public TrankingApiTest {
protected:
    std::string mika;
    std::unique_ptr<TsongParser> parsed;

    void SetUp() override {
        TrankingApiTest::SetUp();
        if (IsSkipped()) return;
        startServer();
        mika = registerPlayer("Mika");
        ASSERT_EQ(putChart(mika, chartSha, chart).status, 201);
        parsed = parsedChart(chart);
    }

    // The play is kept as rejected with a reason naming what is wrong, and not on the board.
    void expectRejected(const Treply& reply, const std::string& reasonPart) {
        EXPECT_EQ(reply.status, 200);
        EXPECT_EQ(reply.body.value("status", ""), "rejected");
        EXPECT_NE(reply.body.value("reason", "").find(reasonPart), std::string::npos) << reply.body.dump();
        EXPECT_GT(reply.body.value("play_id", 0), 0) << "kept";
        EXPECT_EQ(leaderboard(chartSha).body.value("players", -1), 0);
    }
};

TEST_P(TforgedPlayTest, AClaimedScoreOneAboveOrBelowTheJudgedOneIsRejected) {
    const std::vector<TjudgePress> presses = pressesOn(*parsed, 70.5);
    const int32_t judged = judgePlay(*parsed, TtimingConstants{}, 0, presses).score;
    expectRejected(submit(mika, playBody(chartSha, presses, judged + 1)), "claimed score");
    const Treply below = submit(mika, playBody(chartSha, pressesOn(*parsed, 70.25), judged - 1));
    expectRejected(below, "claimed score");
    EXPECT_EQ(below.body.value("score", 0), judged) << "the score the server judged";
    EXPECT_EQ(submit(mika, playBody(chartSha, pressesOn(*parsed, 70.75), judged)).body.value("status", ""),
              "verified");
}

TEST_P(TforgedPlayTest, PressesMovedOntoTheBeatAreRejected) {
    expectRejected(submit(mika, playBody(chartSha, pressesOn(*parsed, 0.0, 0, 0.0), 900000)), "exactly on the beat");
}

// An "echo" 15 ms after each exact press judges nothing: it must not dilute the exact ones.
TEST_P(TforgedPlayTest, ExactPressesAreCountedAmongTheJudgedOnesOnly) {
    const std::string single = blockChart(1);
    putChart(mika, sha256Hex(single), single);
    std::vector<TjudgePress> echoed;
    for (const TjudgePress& press : pressesOn(*parsedChart(single), 0.0, 0, 0.0)) {
        echoed.push_back(press);
        echoed.push_back({press.panel, press.musicMs + 15.0});
    }
    std::sort(echoed.begin(), echoed.end(), [](const auto& a, const auto& b) { return a.musicMs < b.musicMs; });
    ASSERT_EQ(echoed.size(), 32u);
    const Treply reply = submit(mika, playBody(sha256Hex(single), echoed, 900000));
    EXPECT_EQ(reply.body.value("status", ""), "rejected");
    EXPECT_NE(reply.body.value("reason", "").find("16 of 16 judged"), std::string::npos) << reply.body.dump();
}

// Judged presses spread about their mean: from 50 judged presses on, under 3 ms is nobody's.
TEST_P(TforgedPlayTest, JudgedPressesSpreadingUnderThreeMsAreRejectedFromFifty) {
    size_t copies = 0;
    const auto sendSpread = [&](size_t judged, double spread) {
        // A copy of the chart each time: presses within 0.05 ms of a kept play's are that play.
        const std::string copy = chart + std::string(++copies, '\n');
        putChart(mika, sha256Hex(copy), copy);
        std::vector<TjudgePress> presses = pressesOn(*parsed, 0.5, 0, 0.0);
        presses.resize(judged);
        for (size_t index = 0; index < presses.size(); ++index) presses[index].musicMs += index % 2 ? -spread : spread;
        const int32_t score = judgePlay(*parsed, TtimingConstants{}, 0, presses).score;
        const Treply reply = submit(mika, playBody(sha256Hex(copy), presses, score));
        EXPECT_EQ(reply.body.value("score", -1), score);
        return reply.body.value("status", "") + " " + reply.body.value("reason", "");
    };
    EXPECT_EQ(sendSpread(50, 3.0), "verified ");
    EXPECT_EQ(sendSpread(50, 3.01), "verified ");
    const std::string narrow = sendSpread(50, 2.99);
    EXPECT_NE(narrow.find("rejected The 50 judged presses spread only 2.990 ms"), std::string::npos) << narrow;
    EXPECT_EQ(sendSpread(49, 2.99), "verified ") << "49 judged presses are too few to tell";
    EXPECT_EQ(sendSpread(49, 0.0), "verified ");
    EXPECT_NE(sendSpread(51, 2.99).find("rejected"), std::string::npos);
}

// The offsets are the player's before the play: a play sent with offsets the server was not told
// of first is rejected and kept, so the same presses cannot be tried again under other offsets.
TEST_P(TforgedPlayTest, APlayIsJudgedOnlyWithOffsetsRegisteredBeforeIt) {
    const std::vector<TjudgePress> late = pressesOn(*parsed, 70.5);
    const Treply unregistered = submit(mika, playBody(chartSha, late, 900000, 70));
    expectRejected(unregistered, "not ones this player registered");
    EXPECT_EQ(registerOffsets(mika, 70).status, 201);
    EXPECT_EQ(registerOffsets(mika, 70).status, 200) << "known offsets are registered once";
    const Treply again = submit(mika, playBody(chartSha, late, 900000, 70));
    EXPECT_TRUE(again.body.value("already_kept", false)) << "the same presses are the same play";
    EXPECT_EQ(again.body.value("status", ""), "rejected");
    EXPECT_EQ(submit(mika, playBody(chartSha, pressesOn(*parsed, 0.75, 70), 900000, 70)).body.value("status", ""),
              "verified");
    const Treply badOffsets = registerOffsets(mika, 501);
    EXPECT_EQ(badOffsets.status, 400);
    EXPECT_EQ(badOffsets.body.value("error", ""), "bad_offset");
}

TEST_P(TforgedPlayTest, ThreeNewOffsetsADay) {
    EXPECT_EQ(registerOffsets(mika, 10).status, 201);
    EXPECT_EQ(registerOffsets(mika, 20).status, 201);
    EXPECT_EQ(registerOffsets(mika, 20, -5).status, 201);
    const Treply fourth = registerOffsets(mika, 30);
    EXPECT_EQ(fourth.status, 429);
    EXPECT_EQ(fourth.body.value("error", ""), "too_many_offsets");
    EXPECT_EQ(fourth.retryAfter, "86400");
    EXPECT_EQ(registerOffsets(mika, 10).status, 200) << "offsets already known cost nothing";
    EXPECT_EQ(registerOffsets(mika, 0).status, 200) << "the game's defaults are known to every player";
    clock.highResolution += 86400000.0 - 1.0;
    EXPECT_EQ(registerOffsets(mika, 30).status, 429);
    clock.highResolution += 1.0;
    EXPECT_EQ(registerOffsets(mika, 30).status, 201);
    EXPECT_EQ(registerOffsets(registerPlayer("Noor"), 30).status, 201) << "each player has their own day";
}

// A play's key is taken on presses rounded to 0.1 ms: a sliver's nudge is the same play.
TEST_P(TforgedPlayTest, PressesNudgedUnderAHalfTenthOfAMsAreTheSamePlay) {
    const std::vector<TjudgePress> presses = pressesOn(*parsed, 0.5);
    ASSERT_EQ(presses.size(), 64u);
    const int64_t first = submit(mika, playBody(chartSha, presses, 900000)).body.value("play_id", 0);
    const auto nudged = [&](double by) {
        std::vector<TjudgePress> changed = presses;
        changed[7].musicMs += by;
        return submit(mika, playBody(chartSha, changed, 900000));
    };
    EXPECT_EQ(nudged(1e-9).body.value("play_id", -1), first);
    EXPECT_EQ(nudged(0.04).body.value("play_id", -1), first);
    EXPECT_EQ(nudged(-0.04).body.value("play_id", -1), first);
    EXPECT_NE(nudged(0.06).body.value("play_id", first), first);
}

TEST_P(TforgedPlayTest, AChartIsRankedUnderTheDifficultyItWasFirstVerifiedUnder) {
    json play = playBody(chartSha, pressesOn(*parsed, 0.5), 900000);
    play["difficulty"] = 2;
    expectRejected(submit(mika, playBody(chartSha, pressesOn(*parsed, 0.25), 1)), "claimed score");
    ASSERT_EQ(submit(mika, play).body.value("status", ""), "verified") << "a rejected play claims nothing";
    json harder = playBody(chartSha, pressesOn(*parsed, 0.75), 900000);
    const Treply refused = submit(mika, harder);
    EXPECT_EQ(refused.status, 409);
    EXPECT_EQ(refused.body.value("error", ""), "wrong_difficulty");
    harder["difficulty"] = 0;
    EXPECT_EQ(submit(mika, harder).body.value("error", ""), "wrong_difficulty");
    harder["difficulty"] = 2;
    EXPECT_EQ(submit(mika, harder).body.value("status", ""), "verified");
    EXPECT_EQ(get("/v1/charts/" + chartSha + "/2/leaderboard").body.value("players", 0), 1);
}

// A rejected play keeps its first presses only; a verified one keeps them all.
TEST_P(TforgedPlayTest, RejectedPlaysKeepTheirPressesUpToTheCap) {
    stopServer();
    limits.rejectedPressesKept = 10;
    startServer();
    const std::vector<TjudgePress> all = pressesOn(*parsed, 0.5);
    submit(mika, playBody(chartSha, all, 1));
    submit(mika, playBody(chartSha, std::vector<TjudgePress>(all.begin(), all.begin() + 11), 2));
    submit(mika, playBody(chartSha, std::vector<TjudgePress>(all.begin(), all.begin() + 10), 3));
    submit(mika, playBody(chartSha, pressesOn(*parsed, 0.25), 900000));
    const std::vector<TrankedPlay> kept = openStore()->playsOf(1, 10);
    ASSERT_EQ(kept.size(), 4u);
    EXPECT_EQ(kept[0].presses.size(), 64u * 9) << "verified";
    EXPECT_EQ(kept[1].presses.size(), 10u * 9);
    EXPECT_EQ(kept[2].presses.size(), 10u * 9);
    EXPECT_EQ(kept[3].presses.size(), 10u * 9);
    EXPECT_FALSE(kept[3].verified);
}

// A key down while the game waits for the music, or a key's chatter, judges nothing: the play
// stands, with the score the game gave it.
TEST_P(TforgedPlayTest, PressesThatJudgedNothingAreNotHeldAgainstThePlay) {
    std::vector<TjudgePress> presses = pressesOn(*parsed, 0.5);
    ASSERT_EQ(presses.size(), 64u);
    presses.insert(presses.begin() + 1, {presses[0].panel, presses[0].musicMs + 14.999});
    presses.insert(presses.begin() + 1, {presses[0].panel, presses[0].musicMs});
    presses.insert(presses.begin(), {3, -0.001});
    presses.insert(presses.begin(), {3, -1000.0});
    const Treply reply = submit(mika, playBody(chartSha, presses, 900000));
    EXPECT_EQ(reply.body.value("status", ""), "verified") << reply.body.dump();
    EXPECT_EQ(reply.body.value("score", 0), 900000);
}

// Sixteen presses exactly on the beat are noticed, fifteen are not; more than half must be exact.
TEST_P(TforgedPlayTest, ExactPressesAreNoticedFromSixteenAndMoreThanHalf) {
    const auto playWithExact = [this](const std::string& bytes, size_t exact, double others) {
        const auto chartOf = parsedChart(bytes);
        // Even presses are a program's too from 50 on: the long chart's are scattered.
        std::vector<TjudgePress> presses = pressesOn(*chartOf, others, 0, bytes == chart ? 2.0 : 0.0);
        const std::vector<TjudgePress> onTheBeat = pressesOn(*chartOf, 0.0, 0, 0.0);
        if (exact > presses.size()) return std::string("fewer markers than exact presses");
        for (size_t index = 0; index < exact; ++index) presses[index] = onTheBeat[index];
        return submit(mika, playBody(sha256Hex(bytes), presses, 900000)).body.value("status", "");
    };
    const std::string single = blockChart(1);
    putChart(mika, sha256Hex(single), single);
    EXPECT_EQ(playWithExact(single, 15, 0.25), "verified") << "15 of 16: too few to tell";
    EXPECT_EQ(playWithExact(single, 16, 0.5), "rejected");
    const std::string small = blockChart(2);
    putChart(mika, sha256Hex(small), small);
    EXPECT_EQ(playWithExact(small, 15, 0.25), "verified");
    EXPECT_EQ(playWithExact(small, 16, 0.5), "verified") << "16 of 32 is not more than half";
    EXPECT_EQ(playWithExact(small, 17, 0.75), "rejected");
    EXPECT_EQ(playWithExact(chart, 16, 0.25), "verified") << "16 of 64";
    EXPECT_EQ(playWithExact(chart, 32, 0.5), "verified");
    EXPECT_EQ(playWithExact(chart, 33, 0.75), "rejected");
    // Exact means within a thousandth of a ms. Presses within 0.05 ms are one play: the second
    // case goes to a copy of the chart.
    EXPECT_EQ(playWithExact(single, 0, 0.0009), "rejected");
    const std::string copy = single + "\n";
    putChart(mika, sha256Hex(copy), copy);
    EXPECT_EQ(playWithExact(copy, 0, 0.0011), "verified");
}

TEST_P(TforgedPlayTest, AnEasierChartsPressesSentForTheHarderChartAreRejected) {
    const std::string easy = blockChart(4, 120);
    const auto easyParsed = parsedChart(easy);
    expectRejected(submit(mika, playBody(chartSha, pressesOn(*easyParsed, 0.5), 900000)), "claimed score");
}

TEST_P(TforgedPlayTest, PressesReplayedFromAnotherPlayersPlayAreRejected) {
    const json play = playBody(chartSha, pressesOn(*parsed, 0.5), 900000);
    const Treply original = submit(mika, play);
    ASSERT_EQ(original.body.value("status", ""), "verified");
    const std::string noor = registerPlayer("Noor");
    const Treply copy = submit(noor, play);
    EXPECT_EQ(copy.body.value("status", ""), "rejected");
    EXPECT_NE(copy.body.value("reason", "").find("another player"), std::string::npos);
    json underAnotherDifficulty = play;
    underAnotherDifficulty["difficulty"] = 2;
    EXPECT_EQ(submit(noor, underAnotherDifficulty).body.value("error", ""), "wrong_difficulty");
    const Treply board = leaderboard(chartSha);
    EXPECT_EQ(board.body.value("players", 0), 1);
    ASSERT_EQ(board.body["entries"].size(), 1u);
    EXPECT_EQ(board.body["entries"][0]["name"], "Mika");
}

// A client that sends a play again (its first answer was lost) gets the same play back, counted once.
TEST_P(TforgedPlayTest, ThePlaySentTwiceByItsPlayerIsKeptOnce) {
    const json play = playBody(chartSha, pressesOn(*parsed, 0.5), 900000);
    const Treply first = submit(mika, play);
    const Treply second = submit(mika, play);
    EXPECT_EQ(second.body.value("play_id", 0), first.body.value("play_id", -1));
    EXPECT_TRUE(second.body.value("already_kept", false));
    EXPECT_EQ(get("/v1/players/1").body["plays"].size(), 1u);
}

TEST_P(TforgedPlayTest, AnotherPlayersTokenOrNoneIsRefused) {
    const json play = playBody(chartSha, pressesOn(*parsed, 0.5), 900000);
    std::string forged = mika;
    forged[0] = forged[0] == 'a' ? 'b' : 'a';
    EXPECT_EQ(submit(forged, play).status, 401);
    EXPECT_EQ(replyOf(client->Post("/v1/plays", {{"Authorization", mika}}, play.dump(), "application/json")).status,
              401)
        << "the token without Bearer";
    const std::string noor = registerPlayer("Noor");
    submit(noor, play);
    const Treply board = leaderboard(chartSha);
    ASSERT_EQ(board.body["entries"].size(), 1u) << board.body.dump();
    EXPECT_EQ(board.body["entries"][0]["name"], "Noor") << "a play counts for the token's own player";
}

TEST_P(TforgedPlayTest, PressesNoPersonMakesAreRejectedWithTheirReason) {
    std::vector<TjudgePress> presses = pressesOn(*parsed, 0.5);
    ASSERT_EQ(presses.size(), 64u);
    std::swap(presses[3], presses[4]);
    expectRejected(submit(mika, playBody(chartSha, presses, 900000)), "earlier than the press before it");
    // The first row's perfect moment falls 50 ms before the music starts under audio offset -500.
    ASSERT_EQ(registerOffsets(mika, -500).status, 201);
    presses = pressesOn(*parsed, 0.5, -500, 0.0);
    ASSERT_EQ(presses.size(), 64u);
    ASSERT_DOUBLE_EQ(presses[0].musicMs, -49.5);
    double lastMoved = 0.0;
    const auto firstPressAt = [&](double musicMs) {
        std::vector<TjudgePress> moved = presses;
        moved[0].musicMs = musicMs;
        for (size_t index = 1; index < moved.size(); ++index) moved[index].musicMs += personsScatterMs[index % 8];
        moved.back().musicMs += lastMoved += 1.0;  // a play of its own each time
        const int32_t score = judgePlay(*parsed, TtimingConstants{}, -500, moved).score;
        return submit(mika, playBody(chartSha, moved, score, -500)).body;
    };
    EXPECT_NE(firstPressAt(-0.001).value("reason", "").find("before the music started"), std::string::npos);
    EXPECT_EQ(firstPressAt(0.0).value("status", ""), "verified");
    EXPECT_EQ(firstPressAt(0.001).value("status", ""), "verified");
}

TEST_P(TforgedPlayTest, MalformedJsonIsRefusedAndNotKept) {
    const std::vector<std::string> bodies = {"",      "[", "{\"chart_sha256\":", "[1,2]",
                                             "{\"presses\":[[0,1e999]]}", "\xff\xfe"};
    for (const std::string& body : bodies) {
        const Treply reply = post("/v1/plays", body, mika);
        EXPECT_EQ(reply.status, 400) << body;
    }
    EXPECT_EQ(get("/v1/players/1").body["plays"].size(), 0u);
}

TRELLIK_ON_EVERY_DATABASE(TforgedPlayTest);

}  // namespace

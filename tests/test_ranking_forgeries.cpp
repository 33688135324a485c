// Plays forged on the way to the ranking server are judged again and kept as rejected, off the board.
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
    expectRejected(submit(mika, playBody(chartSha, pressesOn(*parsed, 0.0), 900000)), "exactly on the beat");
}

// Sixteen presses exactly on the beat are noticed, fifteen are not; more than half must be exact.
TEST_P(TforgedPlayTest, ExactPressesAreNoticedFromSixteenAndMoreThanHalf) {
    const auto playWithExact = [this](const std::string& bytes, size_t exact, double others) {
        const auto chartOf = parsedChart(bytes);
        std::vector<TjudgePress> presses = pressesOn(*chartOf, others);
        const std::vector<TjudgePress> onTheBeat = pressesOn(*chartOf, 0.0);
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
    // Exact means within a thousandth of a ms.
    EXPECT_EQ(playWithExact(single, 0, 0.0009), "rejected");
    EXPECT_EQ(playWithExact(single, 0, 0.0011), "verified");
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
    EXPECT_EQ(submit(noor, underAnotherDifficulty).body.value("status", ""), "rejected");
    const Treply board = leaderboard(chartSha);
    EXPECT_EQ(board.body.value("players", 0), 1);
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
    EXPECT_EQ(board.body["entries"][0]["name"], "Noor") << "a play counts for the token's own player";
}

TEST_P(TforgedPlayTest, PressesNoPersonMakesAreRejectedWithTheirReason) {
    std::vector<TjudgePress> presses = pressesOn(*parsed, 0.5);
    std::swap(presses[3], presses[4]);
    expectRejected(submit(mika, playBody(chartSha, presses, 900000)), "earlier than the press before it");
    presses = pressesOn(*parsed, 0.5);
    presses.insert(presses.begin(), {0, -1.0});
    expectRejected(submit(mika, playBody(chartSha, presses, 900000)), "before the music started");
    presses = pressesOn(*parsed, 0.5);
    presses.insert(presses.begin() + 1, presses[0]);
    expectRejected(submit(mika, playBody(chartSha, presses, 900000)), "repeats");
    presses = pressesOn(*parsed, 0.5);
    presses.insert(presses.begin() + 1, {presses[0].panel, presses[0].musicMs + 14.0});
    expectRejected(submit(mika, playBody(chartSha, presses, 900000)), "less than 15 ms");
    presses = pressesOn(*parsed, 0.5);
    presses.insert(presses.begin() + 1, {presses[0].panel, presses[0].musicMs + 15.0});
    EXPECT_EQ(submit(mika, playBody(chartSha, presses, 900000)).body.value("status", ""), "verified");
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

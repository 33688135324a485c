// Press times: event stamps and the X server clock mapping, on exact times.
#include <gtest/gtest.h>

#include <cstdint>

#include "platform/input/eventStamps.h"
#include "platform/input/keyPairing.h"

namespace {

// A round trip answered at once by a server whose clock runs offsetMs ahead of ours.
void sampleAt(TserverClockMap& map, double localMs, double offsetMs, double roundTripMs = 0.2) {
    const double serverTrue = localMs + roundTripMs / 2.0 + offsetMs;
    const auto serverMs = static_cast<uint32_t>(static_cast<int64_t>(serverTrue));
    map.addSample(serverMs, localMs, localMs + roundTripMs);
}

// Samples at varying fractions of a ms, as real round trips land, so the bounds close in.
void settle(TserverClockMap& map, double startMs, double offsetMs, int count = 8) {
    for (int i = 0; i < count; ++i) sampleAt(map, startMs + i * 1000.37, offsetMs);
}

uint32_t serverStampOf(double localMs, double offsetMs) {
    return static_cast<uint32_t>(static_cast<int64_t>(localMs + offsetMs));
}

}  // namespace

TEST(EventStamps, CarryATimeToTheMicrosecondAcrossTheWrap) {
    for (const double at : {1234.567, 4294967.2955, 4294967.2965, 987654321.001}) {
        const uint32_t stamp = eventStampFor(at);
        EXPECT_NE(stamp, 0u);
        EXPECT_NEAR(eventTimeOf(stamp, at + 250.0), at, 0.002) << at;
        EXPECT_NEAR(eventTimeOf(stamp, at - 3.0), at, 0.002) << "a stamp slightly ahead of now, " << at;
    }
}

TEST(ServerClockMap, MapsServerStampsOntoOurClockWithinHalfAMillisecond) {
    for (const double offset : {0.0, 0.25, 123456.7, -98765.4}) {
        TserverClockMap map;
        EXPECT_FALSE(map.localTimeOf(0, 0.0).has_value()) << "no mapping before round trips";
        settle(map, 5000000.0, offset);
        ASSERT_TRUE(map.sure());
        for (const double pressed : {5010000.1, 5010000.6, 5010000.99}) {
            const std::optional<double> mapped = map.localTimeOf(serverStampOf(pressed, offset), pressed + 14.0);
            ASSERT_TRUE(mapped.has_value());
            EXPECT_NEAR(*mapped, pressed, 0.51) << "offset " << offset;
        }
    }
}

TEST(ServerClockMap, FollowsTheServerClockAcrossItsWrapAt2To32Ms) {
    TserverClockMap map;
    // Our clock sits just below the point where the server's 32-bit clock wraps to 0.
    const double offset = 4294967296.0 - 5000000.0 - 1.5;
    settle(map, 5000000.0 - 9000.0, offset);
    ASSERT_TRUE(map.sure());
    const double beforeWrap = 4999999.0;
    const double afterWrap = 5000003.2;
    EXPECT_GT(serverStampOf(beforeWrap, offset), 4294967000u);
    EXPECT_LT(serverStampOf(afterWrap, offset) % 4294967296u, 10u);
    EXPECT_NEAR(*map.localTimeOf(serverStampOf(beforeWrap, offset), afterWrap + 5.0), beforeWrap, 0.51);
    const auto wrapped = static_cast<uint32_t>(static_cast<int64_t>(afterWrap + offset));
    EXPECT_NEAR(*map.localTimeOf(wrapped, afterWrap + 5.0), afterWrap, 0.51);
}

TEST(ServerClockMap, AJumpMakesItUnsureUntilTheClocksAgreeAgain) {
    TserverClockMap map;
    settle(map, 1000000.0, 40.0);
    ASSERT_TRUE(map.sure());
    EXPECT_FALSE(map.jumpSeen());

    // A slow drift well inside the tolerance keeps the mapping.
    sampleAt(map, 1020000.0, 41.5);
    EXPECT_TRUE(map.sure());

    sampleAt(map, 1021000.0, 90.0);
    EXPECT_TRUE(map.jumpSeen());
    EXPECT_FALSE(map.sure());
    EXPECT_FALSE(map.localTimeOf(serverStampOf(1021500.0, 90.0), 1021510.0).has_value());

    settle(map, 1022000.0, 90.0, TserverClockMap::agreeingNeeded);
    ASSERT_TRUE(map.sure());
    EXPECT_NEAR(*map.localTimeOf(serverStampOf(1030000.4, 90.0), 1030010.0), 1030000.4, 0.6);
}

TEST(ServerClockMap, IgnoresRoundTripsTooLongToTellWhenTheStampWasTaken) {
    TserverClockMap map;
    for (int i = 0; i < 8; ++i) sampleAt(map, 2000000.0 + i * 1000.3, 10.0, 45.0);
    EXPECT_FALSE(map.sure());
}

TEST(KeyPairing, AnXKeyCodeGoesOnlyToTheScancodeItWasFirstSeenWith) {
    TkeyPairing pairing;
    EXPECT_TRUE(pairing.matches(38, 4));
    EXPECT_TRUE(pairing.matches(38, 4));
    EXPECT_FALSE(pairing.matches(38, 5));
    EXPECT_TRUE(pairing.matches(38, 4)) << "a mismatch teaches nothing";
    EXPECT_TRUE(pairing.matches(56, 5));
    EXPECT_TRUE(pairing.matches(255, 6));
    EXPECT_FALSE(pairing.matches(256, 6)) << "X has no key code above 255";
}

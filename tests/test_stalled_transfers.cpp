// Transfers from servers that stop answering: they give up and fail as a refused connection does.
#include <gtest/gtest.h>

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <filesystem>
#include <stdexcept>
#include <string>

#include "platform/net/downloadFileCode.h"
#include "platform/net/transferLimits.h"
#include "tests/support/downloadProbe.h"
#include "tests/support/stallingServer.h"
#include "tests/support/testSupport.h"

namespace {

namespace fs = std::filesystem;

// Short limits, so that a stalled server is given up on quickly.
constexpr TtransferLimits shortLimits{300, 300};

// A loopback URL on a port that nobody listens on, so connecting is refused at once.
std::string refusedUrl(const std::string& path) {
    const int socket = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof(address);
    ::bind(socket, reinterpret_cast<sockaddr*>(&address), sizeof(address));
    ::getsockname(socket, reinterpret_cast<sockaddr*>(&address), &length);
    ::close(socket);
    return "http://127.0.0.1:" + std::to_string(ntohs(address.sin_port)) + "/" + path;
}

bool isEmptyFolder(const std::string& folder) {
    return fs::is_empty(folder);
}

// The shape every failed download shares: the refused connection's, naming the URL.
void expectFailureLikeRefused(const std::string& error, const std::string& url, const std::string& reason) {
    EXPECT_EQ(error.rfind("Could not download " + url + ": ", 0), 0u) << error;
    EXPECT_NE(error.find(reason), std::string::npos) << error;
}

}  // namespace

TEST(SilenceWatch, OnlyAFullSilenceCountsAndEveryByteStartsItAfresh) {
    TsilenceWatch watch(30000, 1000);
    EXPECT_FALSE(watch.silentTooLong(1000));
    EXPECT_FALSE(watch.silentTooLong(30999));
    EXPECT_TRUE(watch.silentTooLong(31000));
    // One byte just inside the limit, again and again for ten minutes: slow, but never cut off.
    for (uint64_t at = 1000; at < 601000; at += 29999) {
        watch.bytesArrived(at);
        EXPECT_FALSE(watch.silentTooLong(at + 29999)) << at;
    }
}

TEST(TransferLimits, AnOverrideHoldsWhileItLivesAndTheStandardOnesReturn) {
    EXPECT_EQ(transferLimits().connectMs, 15000u);
    EXPECT_EQ(transferLimits().silenceMs, 30000u);
    {
        const TtransferLimitsOverride shorter(shortLimits);
        EXPECT_EQ(transferLimits().connectMs, 300u);
        EXPECT_EQ(transferLimits().silenceMs, 300u);
    }
    EXPECT_EQ(transferLimits().connectMs, standardTransferLimits.connectMs);
    EXPECT_EQ(transferLimits().silenceMs, standardTransferLimits.silenceMs);
}

TEST(StalledTransfer, SilentAndHalfwayServersFailLikeARefusedConnectionAndLeaveNoFile) {
    TtemporaryFolder game;
    TworkingDirectory inGame(game.path());
    const TtransferLimitsOverride shorter(shortLimits);

    const std::string refused = refusedUrl("snd/readyGo.mp3");
    expectFailureLikeRefused(downloadError(refused, "snd/readyGo.mp3"), refused, "");

    TtricklingServer silentAfterAccept({{}, 0, true});
    const std::string silentUrl = silentAfterAccept.url("snd/readyGo.mp3");
    expectFailureLikeRefused(downloadError(silentUrl, "snd/readyGo.mp3"), silentUrl, "sent nothing for 300 ms");

    TtricklingServer silentHalfway({{replyHeaderFor(1000) + "ten bytes."}, 0, true});
    const std::string halfwayUrl = silentHalfway.url("gfx/bigLogo.tga");
    expectFailureLikeRefused(downloadError(halfwayUrl, "gfx/bigLogo.tga"), halfwayUrl, "sent nothing for 300 ms");

    // The folders were made for the files, but no file, whole or partial, is left in them.
    EXPECT_TRUE(isEmptyFolder(game.file("snd")));
    EXPECT_TRUE(isEmptyFolder(game.file("gfx")));
}

TEST(StalledTransfer, AConnectionThatIsNeverAnsweredIsGivenUpAfterTheConnectLimit) {
    TtemporaryFolder game;
    TworkingDirectory inGame(game.path());
    const TtransferLimitsOverride shorter({300, 60000});
    TunansweredPort unanswered;
    const std::string url = unanswered.url("motd.txt");
    // curl words the time-out in its own way; that it fails, and how, is what counts.
    expectFailureLikeRefused(downloadError(url, "motd.txt"), url, "");
    EXPECT_TRUE(isEmptyFolder(game.path()));
}

TEST(StalledTransfer, ASlowButMovingTransferIsNeverCutOff) {
    TtemporaryFolder game;
    TworkingDirectory inGame(game.path());
    // Twenty bytes a tenth of a second apart take twice the silence limit in all.
    const TtransferLimitsOverride shorter({60000, 1000});
    TtrickleScript script{{replyHeaderFor(20)}, 100, false};
    for (int byte = 0; byte < 20; ++byte) script.pieces.push_back(std::string(1, static_cast<char>('a' + byte)));
    TtricklingServer slow(script);
    EXPECT_EQ(downloadError(slow.url("snd/mainmenu.mp3"), "snd/mainmenu.mp3"), "");
    EXPECT_EQ(readFile(game.file("snd/mainmenu.mp3")), "abcdefghijklmnopqrst");
}

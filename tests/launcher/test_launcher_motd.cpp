// The message of the day: fetched afresh at each opening, UTF-16LE text, errors then the old text.
#include <gtest/gtest.h>

#include <QTest>

#include <stdexcept>

#include "platform/net/downloadFileCode.h"
#include "tests/launcher/launcherTestSupport.h"
#include "tests/support/updateServerFixture.h"

namespace {

std::string utf16le(const std::u16string& text) {
    std::string bytes;
    for (char16_t unit : text) {
        bytes += static_cast<char>(unit & 0xFF);
        bytes += static_cast<char>(unit >> 8);
    }
    return bytes;
}

// A fetcher that serves the given bytes and counts its calls, checking the file is gone first.
struct TfakeServer {
    std::string body;
    int fetches = 0;
    bool fileWasThere = false;
    TfileFetcher fetcher() {
        return [this](const std::string& url, const std::string& path, bool announce) {
            ++fetches;
            fileWasThere = fileWasThere || std::filesystem::exists(path);
            EXPECT_EQ(url, updateServerUrl() + "motd.txt");
            EXPECT_EQ(path, "motd.txt");
            EXPECT_FALSE(announce);
            writeFile(path, body);
            return true;
        };
    }
};

void closeWhenOpen() {
    whenModalOpens([](QWidget& modal) { modal.close(); });
}

}  // namespace

TEST(MessageOfTheDay, ThreeLinesShowAsThreeMemoLinesAndEachOpeningFetchesAgain) {
    TlauncherSandbox sandbox;
    auto windows = openLauncher();
    TfakeServer server;
    server.body = utf16le(u"Welcome to Trellik\r\nNew songs: 3\r\nさようなら");
    windows->motdForm.fetchFile = server.fetcher();
    writeFile("motd.txt", "left over");

    closeWhenOpen();
    windows->loadingForm.motdMenu->trigger();
    QPlainTextEdit* memo = windows->motdForm.motdMemo;
    EXPECT_EQ(memo->document()->blockCount(), 3);
    EXPECT_EQ(memo->toPlainText(), QString::fromUtf8("Welcome to Trellik\nNew songs: 3\nさようなら"));
    EXPECT_FALSE(server.fileWasThere);
    EXPECT_FALSE(std::filesystem::exists("motd.txt"));

    server.body = utf16le(u"Second message\r\n");
    closeWhenOpen();
    windows->loadingForm.motdMenuClick();
    EXPECT_EQ(server.fetches, 2);
    EXPECT_EQ(memo->toPlainText(), "Second message");
}

TEST(MessageOfTheDay, TextEndsAtTheFirstZeroCharacterAndKeepsAByteOrderMark) {
    EXPECT_EQ(messageFromBytes(utf16le(u"ab") + std::string("\0\0", 2) + utf16le(u"cd")), "ab");
    EXPECT_EQ(messageFromBytes(utf16le(u"\xFEFFhi")), QString(QChar(0xFEFF)) + "hi");
    EXPECT_EQ(messageFromBytes(std::string("h\0i", 3)), "h");  // a lone last byte is no character
    EXPECT_EQ(messageFromBytes(""), "");
}

TEST(MessageOfTheDay, AFailedFetchShowsOneErrorThenTheInitialText) {
    TlauncherSandbox sandbox;
    auto windows = openLauncher();
    TmotdForm& motd = windows->motdForm;
    const QString initial = motd.motdMemo->toPlainText();
    EXPECT_TRUE(initial.startsWith("If you can see this then that HTTP error you got just now was \n"));
    EXPECT_TRUE(initial.endsWith("\n\nI'm afraid that this is all I have for you..."));
    motd.fetchFile = [](const std::string&, const std::string& path, bool) -> bool {
        writeFile(path, "partial");
        throw std::runtime_error("Cannot connect to the update server");
    };
    TmessageRecorder messages;
    bool shownAfterError = false;
    whenModalOpens([&](QWidget& modal) {
        shownAfterError = messages.messages().size() == 1;
        modal.close();
    });
    motd.motdMenuClick();
    ASSERT_EQ(messages.messages().size(), 1u);
    EXPECT_EQ(messages.messages()[0].text, "Cannot connect to the update server");
    EXPECT_TRUE(shownAfterError);
    EXPECT_EQ(motd.motdMemo->toPlainText(), initial);
    EXPECT_FALSE(std::filesystem::exists("motd.txt"));
}

// Through the real download and the embedded update server.
TEST(MessageOfTheDay, FetchedFromTheUpdateServerAtEveryOpening) {
    TlauncherSandbox sandbox;
    TtemporaryFolder root;
    writeFile(root.file("motd.txt"), utf16le(u"one\r\ntwo\r\nthree"));
    TupdateServerFixture server(root.path());
    setUpdateServerUrl(server.baseUrl());
    writeFile("MOTD.TXT", "left over");  // the download finds it in any letter case, so must the reading
    auto windows = openLauncher();
    closeWhenOpen();
    windows->motdForm.motdMenuClick();
    EXPECT_EQ(windows->motdForm.motdMemo->toPlainText(), "one\ntwo\nthree");
    EXPECT_FALSE(std::filesystem::exists("MOTD.TXT"));
    closeWhenOpen();
    windows->motdForm.motdMenuClick();
    std::vector<TservedRequest> requests = server.requests();
    std::erase_if(requests, [](const TservedRequest& request) { return request.path == "/latestVersion.txt"; });
    ASSERT_EQ(requests.size(), 2u);  // besides the update check, which asks the same server
    EXPECT_EQ(requests[1].path, "/motd.txt");
    EXPECT_EQ(requests[1].userAgent, "Trellik-Downloader/1.0");
    EXPECT_FALSE(std::filesystem::exists("motd.txt"));
    setUpdateServerUrl(defaultUpdateServerUrl());
}

TEST(MessageOfTheDay, AMessageOverOneMebibyteIsRefusedWithItsReason) {
    TlauncherSandbox sandbox;
    TtemporaryFolder root;
    writeFile(root.file("motd.txt"), std::string((1 << 20) + 2, 'a'));
    TupdateServerFixture server(root.path());
    setUpdateServerUrl(server.baseUrl());
    auto windows = openLauncher();
    TmessageRecorder messages;
    closeWhenOpen();
    windows->motdForm.motdMenuClick();
    ASSERT_EQ(messages.messages().size(), 1u);
    EXPECT_NE(messages.messages()[0].text.find("larger than 1 MiB"), std::string::npos) << messages.messages()[0].text;
    EXPECT_FALSE(std::filesystem::exists("motd.txt"));
    setUpdateServerUrl(defaultUpdateServerUrl());
}

TEST(MessageOfTheDay, ServerDownGivesOneErrorBoxThenTheInitialText) {
    TlauncherSandbox sandbox;
    TtemporaryFolder root;
    TupdateServerFixture server(root.path());
    setUpdateServerUrl(server.baseUrl());
    server.stop();
    auto windows = openLauncher();
    const QString initial = windows->motdForm.motdMemo->toPlainText();
    TmessageRecorder messages;
    closeWhenOpen();
    windows->motdForm.motdMenuClick();
    ASSERT_EQ(messages.messages().size(), 1u);
    EXPECT_NE(messages.messages()[0].text.find("motd.txt"), std::string::npos);
    EXPECT_EQ(windows->motdForm.motdMemo->toPlainText(), initial);
    setUpdateServerUrl(defaultUpdateServerUrl());
}

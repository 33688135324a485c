// The download of the new program after the go-ahead, its failures, and the swap of the programs.
#include <gtest/gtest.h>

#include <map>

#include <QCryptographicHash>

#include <nlohmann/json.hpp>

#include "content/latestVersionCode.h"
#include "platform/window/messageBox.h"
#include "tests/launcher/test_update_support.h"
#include "tests/support/stallingServer.h"

namespace {

// The newer stand-in with eight megabytes behind it: still a program, and large enough to
// arrive in several steps even over loopback, where libcurl reports up to 1.6 MB at once.
std::string newerProgramBytes() {
    std::string bytes = readFile(newerStandinProgram());
    for (int i = 0; i < 8000000; ++i) bytes += static_cast<char>(i * 7 % 251);
    return bytes;
}

std::string sha256Hex(const std::string& bytes) {
    return QCryptographicHash::hash(QByteArray::fromStdString(bytes), QCryptographicHash::Sha256).toHex().toStdString();
}

// Chooses the update menu item as soon as the launcher offers it.
void chooseUpdateWhenOffered(TupdateRig& rig) {
    rig.afterCode = [&rig](int code) {
        if (code == static_cast<int>(UpdateCode::updateAvailable)) rig.form().doUpdateMenu->trigger();
    };
}

double percentageIn(const QString& status, const QString& prefix) {
    EXPECT_TRUE(status.startsWith(prefix) && status.endsWith("%")) << status.toStdString();
    return status.mid(prefix.size()).chopped(1).remove(',').toDouble();
}

// The newer stand-in as built for another architecture: only the machine field differs.
std::string newerProgramForAnotherMachine() {
    std::string bytes = readFile(newerStandinProgram());
    const uint16_t otherMachine = bytes[18] == 62 ? 183 : 62;  // x86-64 or AArch64, whichever it is not
    bytes[18] = static_cast<char>(otherMachine & 0xff);
    bytes[19] = static_cast<char>(otherMachine >> 8);
    return bytes;
}

std::string replyWithoutLength(const std::string& body) {
    return "HTTP/1.1 200 OK\r\nConnection: close\r\n\r\n" + body;
}

std::string replyWithLength(const std::string& body) {
    return "HTTP/1.1 200 OK\r\nConnection: close\r\nContent-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body;
}

std::string canonicalWorkingDirectory() {
    return std::filesystem::canonical(std::filesystem::current_path()).string();
}

}  // namespace

TEST(UpdateDownload, TheChosenUpdateArrivesWithRisingProgressThenReplacesTheProgramAndStartsIt) {
    TupdateRig rig;
    const std::string newer = newerProgramBytes();
    rig.serve("TrellikGL", newer);
    QString digest = QString::fromStdString(sha256Hex(newer)).toUpper();
    rig.serve("latestVersion.txt", "63 sha256=" + digest.toStdString() + "\r\n");
    // The running program lives apart from the game folder, which holds an older pair.
    std::filesystem::create_directories("bin");
    std::filesystem::copy_file(standinProgram(), "bin/TrellikGL38");
    const std::string running = std::filesystem::absolute("bin/TrellikGL38").string();
    writeFile("TrellikGL38", "an older program");
    writeFile("TrellikGL38_old", "the oldest program");
    rig.runAs(running);
    rig.form().horizontalResolutionEdit->setText("1024");
    TstandinListener listener;

    bool menuWasOffered = false;
    std::vector<QColor> progressColours;
    rig.afterCode = [&](int code) {
        if (code == static_cast<int>(UpdateCode::updateAvailable)) {
            menuWasOffered = rig.form().doUpdateMenu->isEnabled();
            rig.form().doUpdateMenu->trigger();
            EXPECT_FALSE(rig.form().doUpdateMenu->isEnabled());
        }
        if (code != static_cast<int>(UpdateCode::downloadProgress)) return;
        progressColours.push_back(rig.form().statusColour);
        if (progressColours.size() == 1) {
            rig.form().setLanguage(1);
            EXPECT_EQ(rig.form().statusText(), "アップデート中: ");
        }
    };
    rig.show();
    ASSERT_TRUE(rig.waitFor(UpdateCode::downloadDone));

    EXPECT_TRUE(menuWasOffered);
    ASSERT_GE(rig.codes.size(), 4u);
    EXPECT_EQ(rig.codes.front(), static_cast<int>(UpdateCode::updateAvailable));
    EXPECT_EQ(rig.codes.back(), static_cast<int>(UpdateCode::downloadDone));
    const std::vector<QString> progress(rig.statusTexts.begin() + 1, rig.statusTexts.end() - 1);
    double previous = percentageIn(progress.front(), "Updating: ");
    for (size_t i = 1; i < progress.size(); ++i) {
        const double now = percentageIn(progress[i], "アップデート中: ");
        EXPECT_GE(now, previous);
        previous = now;
    }
    EXPECT_EQ(progress.back(), "アップデート中: 100.00%");
    for (const QColor& colour : progressColours) EXPECT_EQ(colour, statusBlue);
    EXPECT_FALSE(rig.form().updateThread.updateDownloading);

    // The program stays in its folder; the game folder's own pair is left alone.
    EXPECT_EQ(listener.line(), "ran arguments=0 folder=" + canonicalWorkingDirectory() + "\n");
    EXPECT_EQ(readFile("bin/TrellikGL38"), newer);
    EXPECT_TRUE(isExecutable("bin/TrellikGL38"));
    EXPECT_EQ(readFile("bin/TrellikGL38_old"), readFile(standinProgram()));
    EXPECT_EQ(readFile("TrellikGL38"), "an older program");
    EXPECT_EQ(readFile("TrellikGL38_old"), "the oldest program");
    EXPECT_TRUE(filesStartingWith("TrellikGL_tmp").empty());
    EXPECT_FALSE(std::filesystem::exists("updateinfo.txt"));
    const nlohmann::json stored = nlohmann::json::parse(readFile(rig.sandbox.settingsFile()));
    EXPECT_EQ(stored.at("hres"), "1024");

    const std::vector<TservedRequest> requests = rig.server.requests();
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_EQ(requests[1].path, "/TrellikGL");
    EXPECT_EQ(requests[1].userAgent, "Trellik-Updater/1.0");
}

TEST(UpdateDownload, AServerCutOffMidTransferFailsAndLeavesNothingBehind) {
    TupdateRig rig;
    rig.serve("latestVersion.txt", "63 sha256=" + sha256Hex(std::string(3000000, 'x')) + "\n");
    rig.server.cutShort("TrellikGL", std::string(200000, 'x'), 3000000);
    std::vector<LaunchParameters> runs;
    rig.form().gameRunner = [&](TtrellikGL&, const LaunchParameters& parameters) { runs.push_back(parameters); };
    chooseUpdateWhenOffered(rig);
    rig.show();
    ASSERT_TRUE(rig.waitFor(UpdateCode::downloadFailed));

    EXPECT_EQ(rig.codes.back(), static_cast<int>(UpdateCode::downloadFailed));
    EXPECT_EQ(rig.form().statusText(), "Error: Unable to download update");
    EXPECT_EQ(rig.form().statusColour, statusRed);
    EXPECT_FALSE(rig.form().doUpdateMenu->isEnabled());
    EXPECT_FALSE(rig.form().updateThread.updateDownloading);
    EXPECT_TRUE(filesStartingWith("TrellikGL_tmp").empty());
    EXPECT_TRUE(filesStartingWith("TrellikGL38").empty());
    rig.form().startButtonClick();
    EXPECT_EQ(runs.size(), 1u);
}

TEST(UpdateDownload, AProgramThatDoesNotMatchItsDigestIsNotKept) {
    const std::string newer = newerProgramBytes();
    // A digest that cannot be read is as good as none: the program is not even fetched.
    const std::map<std::string, size_t> requestsFor = {{"sha256=" + std::string(64, '0'), 2}, {"sha256=12ab", 1}};
    for (const auto& [token, requests] : requestsFor) {
        SCOPED_TRACE(token);
        TupdateRig rig;
        rig.serve("TrellikGL", newer);
        rig.serve("latestVersion.txt", "63 " + token + "\n");
        chooseUpdateWhenOffered(rig);
        rig.show();
        ASSERT_TRUE(rig.waitFor(UpdateCode::downloadFailed));
        EXPECT_FALSE(rig.received(UpdateCode::downloadDone));
        EXPECT_EQ(rig.form().statusText(), "Error: Unable to download update");
        EXPECT_TRUE(filesStartingWith("TrellikGL_tmp").empty());
        EXPECT_TRUE(filesStartingWith("TrellikGL38").empty());
        EXPECT_EQ(rig.server.requests().size(), requests);
    }
}

TEST(UpdateDownload, ReplacingTheProgramInTheGameFolderKeepsItAsTheOldOne) {
    TupdateRig rig;  // nothing served: the check fails and stays out of the way
    rig.show();
    TloadingForm& form = rig.form();
    std::filesystem::copy_file(standinProgram(), "TrellikGL38");
    writeFile("TrellikGL38_old", "the oldest program");
    writeFile("TrellikGL_tmp", readFile(newerStandinProgram()));
    std::filesystem::permissions("TrellikGL_tmp", std::filesystem::perms(0644));
    form.exeName = std::filesystem::absolute("TrellikGL38").string();
    form.verticalResolutionEdit->setText("768");
    TstandinListener listener;

    form.replaceAndRestart();

    EXPECT_EQ(listener.line(), "ran arguments=0 folder=" + canonicalWorkingDirectory() + "\n");
    EXPECT_EQ(readFile("TrellikGL38"), readFile(newerStandinProgram()));
    EXPECT_TRUE(isExecutable("TrellikGL38"));
    EXPECT_EQ(readFile("TrellikGL38_old"), readFile(standinProgram()));
    EXPECT_FALSE(std::filesystem::exists("TrellikGL_tmp"));
    EXPECT_EQ(nlohmann::json::parse(readFile(rig.sandbox.settingsFile())).at("vres"), "768");
}

TEST(UpdateDownload, WithoutADownloadedProgramNothingIsMovedAndTheLauncherStays) {
    TupdateRig rig;  // nothing served: the check fails and stays out of the way
    rig.show();
    TloadingForm& form = rig.form();
    std::filesystem::copy_file(standinProgram(), "TrellikGL38");
    form.exeName = std::filesystem::absolute("TrellikGL38").string();
    TmessageRecorder messages;

    form.replaceAndRestart();

    ASSERT_EQ(messages.messages().size(), 1u);
    EXPECT_EQ(messages.messages()[0].kind, TmessageKind::error);
    EXPECT_NE(messages.messages()[0].text.find("TrellikGL_tmp"), std::string::npos);
    EXPECT_EQ(readFile("TrellikGL38"), readFile(standinProgram()));
    EXPECT_FALSE(std::filesystem::exists("TrellikGL38_old"));
    EXPECT_EQ(form.statusText(), "Error: Unable to download update");
    EXPECT_TRUE(form.isVisible());
}

TEST(UpdateDownload, AReplyThatIsNotTheAnnouncedProgramForThisMachineLeavesTheRunningProgramInPlace) {
    const std::string newer = readFile(newerStandinProgram());
    const std::string page = "<html><body>Moved to our new site</body></html>";
    // Each reply comes with the digest the server announced: the one of what it sends, but for the
    // program cut short, whose digest is the whole program's.
    struct Tcase {
        std::string reply;
        std::string announcedDigestOf;
    };
    const std::map<std::string, Tcase> cases = {
        {"an HTML page", {replyWithLength(page), page}},
        {"a program cut short without a length", {replyWithoutLength(newer.substr(0, newer.size() / 2)), newer}},
        {"the running build announced as newer",
         {replyWithoutLength(readFile(standinProgram())), readFile(standinProgram())}},
        {"a program for another machine",
         {replyWithoutLength(newerProgramForAnotherMachine()), newerProgramForAnotherMachine()}},
    };
    for (const auto& [name, tried] : cases) {
        SCOPED_TRACE(name);
        TupdateRig rig;
        const std::string announcement = "63 sha256=" + sha256Hex(tried.announcedDigestOf) + "\n";
        TscriptedServer server({{"latestVersion.txt", replyWithLength(announcement)}, {"TrellikGL", tried.reply}});
        setUpdateServerUrl(server.baseUrl());
        std::filesystem::copy_file(standinProgram(), "TrellikGL38");
        rig.runAs(std::filesystem::absolute("TrellikGL38").string());
        chooseUpdateWhenOffered(rig);
        rig.show();
        ASSERT_TRUE(rig.waitFor(UpdateCode::downloadFailed));

        EXPECT_FALSE(rig.received(UpdateCode::downloadDone));
        EXPECT_EQ(rig.form().statusText(), "Error: Unable to download update");
        EXPECT_EQ(rig.form().statusColour, statusRed);
        EXPECT_EQ(readFile("TrellikGL38"), readFile(standinProgram()));
        EXPECT_TRUE(isExecutable("TrellikGL38"));
        EXPECT_EQ(filesStartingWith("TrellikGL"), std::vector<std::string>{"TrellikGL38"});
    }
}

TEST(UpdateDownload, ARedirectsAnnouncedSizeIsNotHeldAgainstTheProgramItLeadsTo) {
    TupdateRig rig;
    const std::string newer = readFile(newerStandinProgram());
    TscriptedServer server({{"latestVersion.txt", replyWithLength("63 sha256=" + sha256Hex(newer) + "\n")},
                            {"TrellikGL", "HTTP/1.1 302 Found\r\nLocation: /release/TrellikGL\r\nConnection: close\r\n"
                                          "Content-Length: 5\r\n\r\nmoved"},
                            {"release/TrellikGL", replyWithoutLength(newer)}});
    setUpdateServerUrl(server.baseUrl());
    std::filesystem::copy_file(standinProgram(), "TrellikGL38");
    rig.runAs(std::filesystem::absolute("TrellikGL38").string());
    chooseUpdateWhenOffered(rig);
    TstandinListener listener;
    rig.show();
    ASSERT_TRUE(rig.waitUntil(
        [&rig] { return rig.received(UpdateCode::downloadDone) || rig.received(UpdateCode::downloadFailed); }));
    EXPECT_TRUE(rig.received(UpdateCode::downloadDone));
    EXPECT_EQ(readFile("TrellikGL38"), newer);
    EXPECT_EQ(listener.line(), "ran arguments=0 folder=" + canonicalWorkingDirectory() + "\n");
}

TEST(UpdateDownload, ANewProgramThatDoesNotAnswerWithItsBuildIsTakenOutAndTheRunningOneKeepsItsName) {
    const std::map<std::string, std::string> reasons = {{"nothing", "it did not answer with its version"},
                                                        {"failure", "it ended with exit code 3"},
                                                        {"other build", "it answered as build 64, not 63"},
                                                        {"hang", "it gave no answer within 300 ms"}};
    for (const auto& [answer, reason] : reasons) {
        SCOPED_TRACE(answer);
        TupdateRig rig;  // nothing served: the check fails and stays out of the way
        rig.show();
        std::filesystem::create_directories("bin");
        std::filesystem::copy_file(standinProgram(), "bin/TrellikGL38");
        const std::string running = std::filesystem::absolute("bin/TrellikGL38").string();
        writeFile("TrellikGL_tmp", readFile(newerStandinProgram()));
        TenvironmentSetting misbehave("TRELLIK_STANDIN_ANSWER", answer.c_str());

        const std::string failure = replaceAndStartProgram(running, 300);

        EXPECT_EQ(failure, "The new program does not run: " + reason + "; the running program was kept.");
        EXPECT_EQ(readFile("bin/TrellikGL38"), readFile(standinProgram()));
        EXPECT_FALSE(std::filesystem::exists("bin/TrellikGL38_old"));
        EXPECT_FALSE(std::filesystem::exists("TrellikGL_tmp"));
    }
}

TEST(UpdateDownload, AProgramOnAnotherFileSystemThanTheGameFolderIsReplacedWhereItIs) {
    TupdateRig rig;  // nothing served: the check fails and stays out of the way
    rig.show();
    char pattern[] = "/dev/shm/trellik-test-XXXXXX";
    if (!::mkdtemp(pattern)) GTEST_SKIP() << "no /dev/shm";
    const std::string elsewhere = pattern;
    struct stat there {};
    struct stat here {};
    if (::stat(elsewhere.c_str(), &there) != 0 || ::stat(".", &here) != 0 || there.st_dev == here.st_dev) {
        std::filesystem::remove_all(elsewhere);
        GTEST_SKIP() << "/dev/shm is no other file system here";
    }
    const std::string running = elsewhere + "/TrellikGL38";
    std::filesystem::copy_file(standinProgram(), running);
    writeFile("TrellikGL_tmp", readFile(newerStandinProgram()));
    TstandinListener listener;

    const std::string failure = replaceAndStartProgram(running);

    EXPECT_EQ(failure, "");
    EXPECT_EQ(listener.line(), "ran arguments=0 folder=" + canonicalWorkingDirectory() + "\n");
    EXPECT_EQ(readFile(running), readFile(newerStandinProgram()));
    EXPECT_TRUE(isExecutable(running));
    EXPECT_EQ(readFile(elsewhere + "/TrellikGL38_old"), readFile(standinProgram()));
    EXPECT_TRUE(filesStartingWith("TrellikGL").empty());
    std::filesystem::remove_all(elsewhere);
}

TEST(AnswerDeadline, TheTimeLeftRunsOutAtTheLimitExactly) {
    const TanswerDeadline deadline{1000, 10000};
    EXPECT_EQ(deadline.remainingMs(1000), 10000u);
    EXPECT_EQ(deadline.remainingMs(10999), 1u);
    EXPECT_EQ(deadline.remainingMs(11000), 0u);
    EXPECT_EQ(deadline.remainingMs(11001), 0u);
}

TEST(UpdateDownload, TheGameIsNotStartedOnceTheUpdateIsChosenAndTheGameKeepsItsOwnMessages) {
    TupdateRig rig;  // the thread is never started: the choice alone must hold the game back
    TloadingForm& form = rig.form();
    std::vector<LaunchParameters> runs;
    form.gameRunner = [&](TtrellikGL&, const LaunchParameters& parameters) { runs.push_back(parameters); };
    TmessageRecorder messages;
    form.doUpdateMenuClick();
    form.startButtonClick();
    ASSERT_EQ(messages.messages().size(), 1u);
    EXPECT_EQ(messages.messages()[0].text, "Update is at 0.00% please wait!");
    EXPECT_TRUE(runs.empty());

    // After a failed download the game can start; what reaches the launcher during play, through
    // a message box or otherwise, is not handled by it.
    form.onUpdateMessage(static_cast<int>(UpdateCode::downloadFailed));
    messages.clear();
    std::filesystem::copy_file(standinProgram(), "TrellikGL38");
    writeFile("TrellikGL_tmp", readFile(newerStandinProgram()));
    form.exeName = std::filesystem::absolute("TrellikGL38").string();
    form.gameRunner = [&](TtrellikGL&, const LaunchParameters& parameters) {
        runs.push_back(parameters);
        messageBox("The game's own question", "Trellik", TmessageKind::information);
        form.onUpdateMessage(static_cast<int>(UpdateCode::downloadDone));
    };
    form.startButtonClick();
    EXPECT_EQ(runs.size(), 1u);
    EXPECT_TRUE(messages.messages().empty());
    EXPECT_EQ(readFile("TrellikGL38"), readFile(standinProgram()));
    EXPECT_TRUE(std::filesystem::exists("TrellikGL_tmp"));
}

TEST(UpdateDownload, AnInstalledProgramIsNeverReplacedWhateverItsFolderAllows) {
    TupdateRig rig;  // nothing served: the check fails and stays out of the way
    rig.show();
    TloadingForm& form = rig.form();
    std::filesystem::create_directories("prefix/bin");
    std::filesystem::create_directories("prefix/share/trellik/server");
    std::filesystem::create_directories("prefix/share/trellik/demo");
    std::filesystem::copy_file(standinProgram(), "prefix/bin/trellik");
    writeFile("TrellikGL_tmp", readFile(newerStandinProgram()));
    form.exeName = std::filesystem::absolute("prefix/bin/trellik").string();
    ASSERT_EQ(::access("prefix/bin/trellik", W_OK), 0);
    EXPECT_FALSE(canReplaceProgram(form.exeName));
    TmessageRecorder messages;

    form.replaceAndRestart();

    ASSERT_EQ(messages.messages().size(), 1u);
    EXPECT_NE(messages.messages()[0].text.find("package manager"), std::string::npos) << messages.messages()[0].text;
    EXPECT_EQ(readFile("prefix/bin/trellik"), readFile(standinProgram()));
    EXPECT_FALSE(std::filesystem::exists("prefix/bin/TrellikGL38_old"));
    EXPECT_TRUE(std::filesystem::exists("TrellikGL_tmp"));
}

TEST(UpdateDownload, AnAnnouncementWithoutADigestIsReportedButNotDownloaded) {
    TupdateRig rig;
    rig.serve("TrellikGL", readFile(newerStandinProgram()));
    rig.serve("latestVersion.txt", "63\r\n");
    chooseUpdateWhenOffered(rig);
    rig.show();
    ASSERT_TRUE(rig.waitFor(UpdateCode::downloadFailed));
    EXPECT_EQ(rig.codes.front(), static_cast<int>(UpdateCode::updateAvailable));
    EXPECT_FALSE(rig.received(UpdateCode::downloadDone));
    EXPECT_EQ(rig.form().statusText(), "Error: Unable to download update");
    EXPECT_EQ(rig.server.requests().size(), 1u);
    EXPECT_TRUE(filesStartingWith("TrellikGL").empty());
}

TEST(Program, AnswersItsVersionWithoutTouchingAnyFolder) {
    TtemporaryFolder folder;
    TworkingDirectory inFolder(folder.path());
    TenvironmentSetting dataHome("XDG_DATA_HOME", folder.file("data").c_str());
    const std::string command = builtProgram("launcher/TrellikGL38") + " --version";
    FILE* output = ::popen(command.c_str(), "r");
    ASSERT_NE(output, nullptr);
    std::string answer;
    char buffer[256];
    while (std::fgets(buffer, sizeof(buffer), output)) answer += buffer;
    EXPECT_EQ(::pclose(output), 0);
    EXPECT_EQ(answer, "trellik 0.3.8.62\n");
    EXPECT_EQ(readVersionAnswer(answer), 62);
    EXPECT_TRUE(std::filesystem::is_empty(folder.path()));
}

TEST(UpdateDownload, AProgramOfAnotherBuildThanAnnouncedIsRefusedNewerAsWellAsOlder) {
    struct Tcase {
        const char* name;
        int announced;
        std::string served;
    };
    const Tcase cases[] = {
        {"announced 62, served 63", 62, readFile(newerStandinProgram())},
        {"announced 63, served 62", 63, readFile(standinProgram())},
    };
    for (const Tcase& tried : cases) {
        SCOPED_TRACE(tried.name);
        TupdateRig rig;
        rig.serve("TrellikGL", tried.served);
        rig.serve("latestVersion.txt", std::to_string(tried.announced) + " sha256=" + sha256Hex(tried.served) + "\n");
        // A running program without a build number sees either announcement as newer.
        writeFile("TrellikGL38", "a program without a build number");
        rig.runAs(std::filesystem::absolute("TrellikGL38").string());
        chooseUpdateWhenOffered(rig);
        rig.show();
        ASSERT_TRUE(rig.waitUntil(
            [&rig] { return rig.received(UpdateCode::downloadDone) || rig.received(UpdateCode::downloadFailed); }));

        EXPECT_TRUE(rig.received(UpdateCode::downloadFailed));
        EXPECT_EQ(readFile("TrellikGL38"), "a program without a build number");
        EXPECT_EQ(filesStartingWith("TrellikGL"), std::vector<std::string>{"TrellikGL38"});
    }
}

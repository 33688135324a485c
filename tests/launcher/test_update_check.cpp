// The version check: what "latestVersion.txt" announces, how the launcher shows it, failures.
#include <gtest/gtest.h>

#include <limits>
#include <optional>

#include "content/latestVersionCode.h"
#include "platform/buildNumber.h"
#include "platform/store/pathResolver.h"
#include "tests/launcher/test_update_support.h"

namespace {

struct TcheckOutcome {
    std::vector<int> codes;
    QString status;
    QColor colour;
    bool menuEnabled = false;
    std::vector<TservedRequest> requests;
    bool infoFileLeft = true;
};

// One launcher run whose check finds served as "latestVersion.txt" (nothing served when null).
TcheckOutcome checkAgainst(const char* served, const std::string& runningProgram = standinProgram()) {
    TupdateRig rig;
    if (served) rig.serve("latestVersion.txt", served);
    rig.runAs(runningProgram);
    rig.show();
    EXPECT_TRUE(rig.waitUntil([&] { return !rig.codes.empty(); }));
    TcheckOutcome outcome{rig.codes, rig.form().statusText(), rig.form().statusColour,
                          rig.form().doUpdateMenu->isEnabled(), rig.server.requests(), pathExists("updateinfo.txt")};
    return outcome;
}

}  // namespace

TEST(UpdateCheck, TheServersNumberAgainstRunningBuild62) {
    ASSERT_EQ(getBuildNumber(standinProgram()), 62);
    struct Tcase {
        const char* served;
        int code;
        const char* status;
        QColor colour;
        bool menuEnabled;
    };
    const Tcase cases[] = {
        {"63\r\n", 4, "There is an update available; see help menu to download", statusRed, true},
        {"70 and more words\r\nand another line", 4, "There is an update available; see help menu to download",
         statusRed, true},
        {"62", 3, "You have the latest version", statusGreen, false},
        {"", 3, "You have the latest version", statusGreen, false},
        {" \t\r\n  \n", 3, "You have the latest version", statusGreen, false},
        {"abc", 1, "Error: Unable to connect to server", statusRed, false},
        {"63abc", 1, "Error: Unable to connect to server", statusRed, false},
    };
    for (const Tcase& expected : cases) {
        const TcheckOutcome outcome = checkAgainst(expected.served);
        SCOPED_TRACE(std::string("served \"") + expected.served + "\"");
        EXPECT_EQ(outcome.codes, std::vector<int>{expected.code});
        EXPECT_EQ(outcome.status, expected.status);
        EXPECT_EQ(outcome.colour, expected.colour);
        EXPECT_EQ(outcome.menuEnabled, expected.menuEnabled);
        EXPECT_FALSE(outcome.infoFileLeft);
        ASSERT_EQ(outcome.requests.size(), 1u);
        EXPECT_EQ(outcome.requests[0].path, "/latestVersion.txt");
        EXPECT_EQ(outcome.requests[0].userAgent, "Trellik-Updater/1.0");
    }
}

TEST(UpdateCheck, AProgramWithoutABuildNumberSeesEveryNumberFromZeroAsAnUpdate) {
    TtemporaryFolder folder;
    writeFile(folder.file("plain"), "no version note in here");
    ASSERT_EQ(getBuildNumber(folder.file("plain")), -1);
    EXPECT_EQ(checkAgainst("0\n", folder.file("plain")).codes, std::vector<int>{4});
    EXPECT_EQ(checkAgainst("", folder.file("plain")).codes, std::vector<int>{4});
    EXPECT_EQ(checkAgainst("-1", folder.file("plain")).codes, std::vector<int>{3});
}

TEST(UpdateCheck, AProgramThePlayerCannotReplaceReportsTheUpdateWithoutOfferingIt) {
    TupdateRig rig;
    rig.serve("latestVersion.txt", "63\r\n");
    rig.form().programReplaceable = false;
    rig.show();
    ASSERT_TRUE(rig.waitFor(UpdateCode::updateAvailable));
    EXPECT_EQ(rig.form().statusText(), "Update available: use the package manager");
    EXPECT_EQ(rig.form().statusColour, statusRed);
    EXPECT_FALSE(rig.form().doUpdateMenu->isEnabled());
    rig.form().setLanguage(1);
    EXPECT_EQ(rig.form().statusText(), "アップデート有効！パッケージマネージャーで更新");
}

TEST(UpdateCheck, ServerDownShowsTheErrorAndTheLauncherGoesOn) {
    TupdateRig rig;
    rig.server.stop();
    std::vector<LaunchParameters> runs;
    rig.form().gameRunner = [&](TtrellikGL&, const LaunchParameters& parameters) { runs.push_back(parameters); };
    rig.show();
    ASSERT_TRUE(rig.waitFor(UpdateCode::checkFailed));
    EXPECT_EQ(rig.form().statusText(), "Error: Unable to connect to server");
    EXPECT_EQ(rig.form().statusColour, statusRed);
    EXPECT_FALSE(rig.form().doUpdateMenu->isEnabled());
    rig.form().setLanguage(1);
    EXPECT_EQ(rig.form().statusText(), "エラー：アップデートサーバーに接続出来ません");
    rig.form().startButtonClick();
    EXPECT_EQ(runs.size(), 1u);
}

TEST(UpdateCheck, TheLauncherIgnoresUnknownCodesAndStartsOutChecking) {
    TlauncherSandbox sandbox;
    TlauncherWindows windows;
    TloadingForm& form = windows.loadingForm;
    EXPECT_EQ(form.statusText(), "Checking for updates...");
    form.onUpdateMessage(6);
    form.onUpdateMessage(-1);
    EXPECT_EQ(form.statusText(), "Checking for updates...");
    EXPECT_EQ(form.statusColour, QColor(Qt::black));
    EXPECT_EQ(form.getProgress(), 0.0);  // nothing announced yet
}

TEST(LatestVersionFile, TheFirstTokenIsTheBuildNumber) {
    struct Tcase {
        std::string bytes;
        std::optional<int32_t> build;
    };
    const Tcase cases[] = {
        {"70 and more words", 70},
        {"\r\n\t 63\r\n", 63},
        {"", 0},
        {"   \n\n", 0},
        {"+7", 7},
        {"-2147483648", std::numeric_limits<int32_t>::min()},
        {"2147483647\n", std::numeric_limits<int32_t>::max()},
        {"2147483648", std::nullopt},
        {"abc", std::nullopt},
        {"6 3", 6},
        {"63abc", std::nullopt},
        {"-", std::nullopt},
        {std::string("\0", 1) + "63", std::nullopt},  // a control character is no blank
        {std::string(40, '0') + "5", 0},               // only the first 32 characters count
        {"\xEF\xBB\xBF" "63", std::nullopt},             // a byte order mark is not part of a number
    };
    for (const Tcase& expected : cases) {
        const std::optional<TlatestVersion> version = readLatestVersion(expected.bytes);
        ASSERT_EQ(version.has_value(), expected.build.has_value()) << expected.bytes;
        if (version) {
            EXPECT_EQ(version->build, *expected.build) << expected.bytes;
        }
    }
}

TEST(LatestVersionFile, TheRestOfTheFirstLineMayCarryTheProgramsDigest) {
    const std::string digest(64, 'a');
    const std::string upper = "0123456789ABCDEF0123456789ABCDEF0123456789ABCDEF0123456789ABCDEF";

    std::optional<TlatestVersion> version = readLatestVersion("63 sha256=" + digest + "\r\n");
    ASSERT_TRUE(version);
    EXPECT_EQ(version->sha256, digest);
    EXPECT_FALSE(version->sha256Malformed);

    version = readLatestVersion("63\tbuilt today sha256=" + upper + " signed");
    ASSERT_TRUE(version);
    EXPECT_EQ(version->sha256, "0123456789abcdef0123456789abcdef0123456789abcdef0123456789abcdef");

    version = readLatestVersion("63\nsha256=" + digest);  // the next line is not read
    ASSERT_TRUE(version);
    EXPECT_EQ(version->sha256, "");
    EXPECT_FALSE(version->sha256Malformed);

    for (const std::string& broken : {"sha256=" + digest.substr(1), "sha256=" + digest + "0",
                                      "sha256=" + digest.substr(1) + "g", std::string("sha256=")}) {
        version = readLatestVersion("63 " + broken);
        ASSERT_TRUE(version) << broken;
        EXPECT_EQ(version->build, 63);
        EXPECT_TRUE(version->sha256Malformed) << broken;
        EXPECT_EQ(version->sha256, "");
    }
}

TEST(VersionAnswer, TheLastOfFourPartsAfterTheNameIsTheBuild) {
    EXPECT_EQ(readVersionAnswer(versionAnswer(0, 3, 8, 62)), 62);
    EXPECT_EQ(readVersionAnswer("trellik 0.3.8.63\r\nmore"), 63);
    for (const char* other : {"", "trellik 0.3.8", "trellik 0.3.8.62.1", "trellik 0.3.8.-62", "trellik 0.3.8.",
                              "Trellik 0.3.8.62", "trellik 0.3.8.6x", " trellik 0.3.8.62", "trellik 0..8.62",
                              "trellik 0.3.8.2147483648"})
        EXPECT_FALSE(readVersionAnswer(other).has_value()) << other;
}

// The settings file (types, atomic saves, a corrupt file kept aside) and the launch parameters.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>

#include "launcher/commandLine.h"
#include "launcher/launchSettings.h"
#include "platform/input/gamePads.h"
#include "platform/store/settingsStore.h"
#include "tests/support/testSupport.h"

namespace {

std::string settingsDocument(const std::string& values) {
    return "{" + values + "}";
}

// Makes writes past limit bytes fail (EFBIG) in this process until restored.
class TfileSizeLimit {
public:
    explicit TfileSizeLimit(rlim_t limit) {
        ::getrlimit(RLIMIT_FSIZE, &previous);
        previousHandler = ::signal(SIGXFSZ, SIG_IGN);
        rlimit lowered = previous;
        lowered.rlim_cur = limit;
        ::setrlimit(RLIMIT_FSIZE, &lowered);
    }
    ~TfileSizeLimit() {
        ::setrlimit(RLIMIT_FSIZE, &previous);
        ::signal(SIGXFSZ, previousHandler);
    }

private:
    rlimit previous{};
    sighandler_t previousHandler = SIG_DFL;
};

size_t filesIn(const std::string& folder) {
    size_t files = 0;
    for (const auto& entry : std::filesystem::directory_iterator(folder)) {
        (void)entry;
        ++files;
    }
    return files;
}

}  // namespace

TEST(SettingsStore, ValuesAreTypedAndAnythingElseIsAFailedRead) {
    TsettingsStore store("unused");
    ASSERT_TRUE(store.openFromBytes(
        settingsDocument("\"s\": \"abc\", \"n\": -7, \"big\": 4294967296, \"t\": true, \"f\": 1.5, \"z\": 0, "
                         "\"max\": 2147483647, \"min\": -2147483648, \"over\": 2147483648")));
    EXPECT_EQ(store.readString("s"), "abc");
    EXPECT_EQ(store.readString("absent"), "");  // an absent string is empty text
    EXPECT_EQ(store.readString("n"), std::nullopt);
    EXPECT_EQ(store.readInteger("n"), -7);
    EXPECT_EQ(store.readInteger("s"), std::nullopt);
    EXPECT_EQ(store.readInteger("absent"), std::nullopt);
    EXPECT_EQ(store.readInteger("big"), std::nullopt);
    EXPECT_EQ(store.readInteger("over"), std::nullopt);
    EXPECT_EQ(store.readInteger("max"), 2147483647);
    EXPECT_EQ(store.readInteger("min"), -2147483647 - 1);
    EXPECT_EQ(store.readBoolean("t"), std::nullopt);  // JSON true is not a stored number
    EXPECT_EQ(store.readInteger("f"), std::nullopt);
    EXPECT_EQ(store.readBoolean("n"), true);          // any number but 0 is true
    EXPECT_EQ(store.readBoolean("z"), false);
}

TEST(SettingsStore, AFileOfTheEarlierLayoutIsReadAndRewrittenWithItsValuesAtTheTop) {
    TtemporaryFolder folder;
    const std::string path = folder.file("settings.json");
    writeFile(path, "{\"Other\": {\"x\": 1}, \"Software\\\\Trellik\": {\"languageid\": 1, \"hres\": \"800\"}}");
    TsettingsStore store(path);
    EXPECT_TRUE(store.open());
    EXPECT_EQ(store.readInteger("languageid"), 1);
    const nlohmann::json rewritten = nlohmann::json::parse(readFile(path));
    EXPECT_EQ(rewritten, nlohmann::json({{"languageid", 1}, {"hres", "800"}, {"Other", {{"x", 1}}}}));
    TsettingsStore again(path);
    EXPECT_TRUE(again.open());
    EXPECT_EQ(again.readString("hres"), "800");
    EXPECT_FALSE(again.openFromBytes("{\"Software\\\\Trellik\": {}}"));  // no values: as on a first run
}

TEST(SettingsStore, SavesCreateTheFolderAndLeaveNoTemporaryFiles) {
    TtemporaryFolder folder;
    const std::string path = folder.file("deep/er/settings.json");
    TsettingsStore store(path);
    store.open();
    store.writeString("hres", "800");
    store.save();
    store.writeString("hres", "1024");
    store.save();
    EXPECT_EQ(filesIn(folder.file("deep/er")), 1u);
    TsettingsStore again(path);
    again.open();
    EXPECT_EQ(again.readString("hres"), "1024");
}

TEST(SettingsStore, AFailedSaveRaisesAClearErrorAndKeepsTheOldFile) {
    TtemporaryFolder folder;
    const std::string path = folder.file("settings.json");
    const std::string old = settingsDocument("\"hres\": \"640\"");
    writeFile(path, old);
    TsettingsStore store(path);
    store.open();
    store.writeString("hres", "800");
    std::string error;
    {
        // The disk fills up part of the way through the new file.
        const TfileSizeLimit limit(8);
        try {
            store.save();
        } catch (const std::runtime_error& raised) {
            error = raised.what();
        }
    }
    EXPECT_NE(error.find("Cannot write the settings file"), std::string::npos) << error;
    EXPECT_EQ(readFile(path), old);
    EXPECT_EQ(filesIn(folder.path()), 1u);

    if (::geteuid() != 0) {  // root writes into read-only folders
        ::chmod(folder.path().c_str(), 0500);
        EXPECT_THROW(store.save(), std::runtime_error);
        ::chmod(folder.path().c_str(), 0700);
        EXPECT_EQ(readFile(path), old);
    }
}

TEST(SettingsStore, ACorruptFileIsKeptAsideAndTheStoreStartsEmpty) {
    const std::string corrupt[] = {"{\"hres\": ", "[1, 2]", "\"text\"",
                                   "{\"Software\\\\Trellik\": 5}", std::string("\xff\xfe{\x00", 4)};
    for (const std::string& bytes : corrupt) {
        TtemporaryFolder folder;
        const std::string path = folder.file("settings.json");
        writeFile(path, bytes);
        TsettingsStore store(path);
        EXPECT_FALSE(store.open()) << bytes;
        EXPECT_NE(store.setAsideReason().find("settings.json.bad"), std::string::npos) << bytes;
        EXPECT_EQ(readFile(path + ".bad"), bytes);
        EXPECT_FALSE(std::filesystem::exists(path));
        EXPECT_EQ(store.readInteger("0"), std::nullopt);
    }
}

TEST(SettingsStore, EachCorruptFileIsKeptUnderItsOwnNumberAndAPipeIsNotWaitedFor) {
    TtemporaryFolder folder;
    const std::string path = folder.file("settings.json");
    writeFile(path, "first");
    TsettingsStore(path).open();
    writeFile(path, "second");
    TsettingsStore(path).open();
    EXPECT_EQ(readFile(path + ".bad"), "first");
    EXPECT_EQ(readFile(path + ".bad.2"), "second");
    ASSERT_EQ(::mkfifo(path.c_str(), 0600), 0);
    TsettingsStore store(path);
    EXPECT_FALSE(store.open());  // a blocking open would wait here for a writer forever
    EXPECT_NE(store.setAsideReason().find("is not a regular file"), std::string::npos);
    EXPECT_TRUE(std::filesystem::is_fifo(path + ".bad.3"));
}

TEST(SettingsStore, ALinkedFileStaysALinkAndItsTargetIsReplaced) {
    TtemporaryFolder folder;
    std::filesystem::create_directories(folder.file("real"));
    writeFile(folder.file("real/settings.json"), settingsDocument("\"hres\": \"640\""));
    const std::string path = folder.file("settings.json");
    std::filesystem::create_symlink("real/settings.json", path);
    TsettingsStore store(path);
    EXPECT_TRUE(store.open());
    EXPECT_EQ(store.readString("hres"), "640");
    store.writeString("hres", "800");
    store.save();
    EXPECT_TRUE(std::filesystem::is_symlink(path));
    EXPECT_EQ(nlohmann::json::parse(readFile(folder.file("real/settings.json"))).at("hres"), "800");
    EXPECT_EQ(filesIn(folder.file("real")), 1u);
}

TEST(SettingsStore, TheDefaultFileFollowsXdgConfigHome) {
    ::setenv("XDG_CONFIG_HOME", "/somewhere/config", 1);
    EXPECT_EQ(TsettingsStore::defaultFilePath(), "/somewhere/config/Trellik/settings.json");
    ::setenv("XDG_CONFIG_HOME", "relative", 1);  // not absolute: ignored, as the XDG rules say
    ::setenv("HOME", "/home/player", 1);
    EXPECT_EQ(TsettingsStore::defaultFilePath(), "/home/player/.config/Trellik/settings.json");
    ::unsetenv("XDG_CONFIG_HOME");
    EXPECT_EQ(TsettingsStore::defaultFilePath(), "/home/player/.config/Trellik/settings.json");
}

TEST(StoredSettings, ReadingStopsAtTheFirstFailureAndKeepsWhatWasRead) {
    TsettingsStore store("unused");
    // "quality" comes before "scalevalue" in reading order; "yadjust" after it is never reached.
    store.openFromBytes(settingsDocument("\"hres\": \"800\", \"vres\": \"700\", \"fullscreen\": 1, "
                                         "\"elecom\": 1, \"languageid\": 1, \"mode\": 0, \"quality\": 9, "
                                         "\"scalevalue\": \"x\", \"yadjust\": -5"));
    TstoredSettings settings;
    EXPECT_FALSE(readStoredSettings(store, settings));
    EXPECT_EQ(settings.hres, "800");
    EXPECT_EQ(settings.vres, "700");
    EXPECT_TRUE(settings.fullscreen);
    EXPECT_TRUE(settings.elecom);
    EXPECT_EQ(settings.languageId, 1);
    EXPECT_FALSE(settings.mode);
    EXPECT_EQ(settings.quality, 1);  // held to the slider's range
    EXPECT_EQ(settings.scaleValue, 33);
    EXPECT_EQ(settings.yAdjust, 4);
}

TEST(StoredSettings, RangesLanguageAndRotationAreHeldOnReading) {
    TstoredSettings written;
    written.languageId = 7;
    written.scaleValue = 150;
    written.yAdjust = -99;
    written.rotation = 5;
    written.quality = -3;
    written.keys[9] = padButtonKey(maxPads - 1, buttonsPerPad - 1);
    TsettingsStore store("unused");
    store.openFromBytes("{}");
    writeStoredSettings(store, written);
    TstoredSettings read;
    read.rotation = 2;
    ASSERT_TRUE(readStoredSettings(store, read));
    EXPECT_EQ(read.languageId, 0);
    EXPECT_EQ(read.scaleValue, 100);
    EXPECT_EQ(read.yAdjust, -30);
    EXPECT_EQ(read.quality, 0);
    EXPECT_EQ(read.rotation, 2);  // a number other than 1, 2 or 3 leaves the rotation as it was
    EXPECT_EQ(read.keys[9], padButtonKey(maxPads - 1, buttonsPerPad - 1));  // key codes are not held
}

// Every file stored before the offsets existed lacks them; that must not cost the keys.
TEST(StoredSettings, OffsetsRoundTripAndAMissingOrUnreadableOneIsZeroWithTheRestRead) {
    TstoredSettings written;
    written.audioOffset = -500;
    written.visualOffset = 500;
    TsettingsStore store("unused");
    store.openFromBytes("{}");
    writeStoredSettings(store, written);
    TstoredSettings read;
    ASSERT_TRUE(readStoredSettings(store, read));
    EXPECT_EQ(read.audioOffset, -500);
    EXPECT_EQ(read.visualOffset, 500);

    nlohmann::json values = {{"hres", "1024"}, {"vres", "768"}, {"fullscreen", 1}, {"elecom", 0},
                             {"languageid", 1}, {"mode", 0},    {"quality", 1},    {"scalevalue", 50},
                             {"yadjust", -7},   {"rotation", 2}, {"visualoffset", -501}};
    for (int i = 0; i < 16; ++i) values[std::to_string(i)] = 65 + i;
    for (const nlohmann::json& audio : {nlohmann::json(), nlohmann::json(501), nlohmann::json("12"), nlohmann::json(1.5)}) {
        if (audio.is_null()) values.erase("audiooffset");
        else values["audiooffset"] = audio;
        store.openFromBytes(values.dump());
        TstoredSettings again;
        again.audioOffset = 7;
        EXPECT_TRUE(readStoredSettings(store, again)) << audio;
        EXPECT_EQ(again.audioOffset, 0) << audio;
        EXPECT_EQ(again.visualOffset, 0) << audio;
        EXPECT_EQ(again.rotation, 2) << audio;
        EXPECT_EQ(again.keys[15], 80) << audio;
    }
}

TEST(LaunchSettings, IntegersFromTextAreStrict32BitDecimals) {
    EXPECT_EQ(integerFromText("600"), 600);
    EXPECT_EQ(integerFromText("  -12"), -12);
    EXPECT_EQ(integerFromText("+0"), 0);
    EXPECT_EQ(integerFromText("2147483647"), 2147483647);
    EXPECT_EQ(integerFromText("-2147483648"), -2147483647 - 1);
    for (const char* text : {"", " ", "-", "abc", "12x", "2147483648", "1.5", "99999999999999999999", "600 "})
        EXPECT_EQ(integerFromText(text), std::nullopt) << text;
}

TEST(LaunchSettings, ParametersFollowTheSettings) {
    TstoredSettings settings;
    settings.hres = "1024";
    settings.vres = "abc";
    settings.fullscreen = true;
    settings.quality = 1;
    settings.rotation = 3;
    settings.scaleValue = 0;
    settings.yAdjust = -30;
    settings.keys[5] = 999;
    LaunchParameters parameters = launchParametersFor(settings, true, "/games/TrellikGL38", "unused");
    EXPECT_EQ(parameters.width, 1024);
    EXPECT_EQ(parameters.height, 600);  // no integer there: the default size
    EXPECT_TRUE(parameters.fullscreen);
    EXPECT_EQ(parameters.quality, 1);
    EXPECT_EQ(parameters.rotation, 270);
    EXPECT_EQ(parameters.scale, 1.0);
    EXPECT_EQ(parameters.yAdjust, -30.0);
    EXPECT_EQ(parameters.keys[5], 999);
    EXPECT_TRUE(parameters.songDebug);
    EXPECT_EQ(parameters.exeName, "/games/TrellikGL38");

    settings.elecom = true;
    parameters = launchParametersFor(settings, false, "x", "unused");
    const int32_t numericPad[16] = {9, 111, 106, 8, 103, 104, 105, 109, 100, 101, 102, 107, 97, 98, 99, 13};
    for (int i = 0; i < 16; ++i) EXPECT_EQ(parameters.keys[i], numericPad[i]);
}

TEST(LaunchSettings, TheGameGetsTheOffsetsAndSavesNewOnesAloneIntoTheFile) {
    TtemporaryFolder folder;
    const std::string path = folder.file("settings.json");
    TstoredSettings settings;
    settings.audioOffset = 25;
    settings.visualOffset = -40;
    settings.hres = "1280";
    LaunchParameters parameters = launchParametersFor(settings, false, "x", path);
    EXPECT_EQ(parameters.audioOffset, 25);
    EXPECT_EQ(parameters.visualOffset, -40);

    // No file yet: the run's settings are stored with the new offsets, so the file reads in full.
    parameters.saveOffsets(-3, 4);
    TsettingsStore created(path);
    created.open();
    TstoredSettings read;
    EXPECT_TRUE(readStoredSettings(created, read));
    EXPECT_EQ(read.hres, "1280");
    EXPECT_EQ(read.audioOffset, -3);
    EXPECT_EQ(read.visualOffset, 4);

    const nlohmann::json stored = {{"hres", "800"}, {"unknown", {{"kept", true}}}, {"audiooffset", 9}};
    writeFile(path, stored.dump());
    parameters.saveOffsets(120, -500);
    nlohmann::json expected = stored;
    expected["audiooffset"] = 120;
    expected["visualoffset"] = -500;
    EXPECT_EQ(nlohmann::json::parse(readFile(path)), expected);

    TmessageRecorder messages;
    {
        const TfileSizeLimit limit(8);
        parameters.saveOffsets(1, 2);  // a full disk is said, and the game goes on
    }
    ASSERT_EQ(messages.messages().size(), 1u);
    EXPECT_EQ(messages.messages()[0].kind, TmessageKind::warning);
    EXPECT_EQ(nlohmann::json::parse(readFile(path)), expected);
}

TEST(LaunchSettings, ScaleFactorRunsFromOneAtTheTopToATenthAtTheBottom) {
    EXPECT_EQ(scaleFactorFor(0), 1.0);
    EXPECT_NEAR(scaleFactorFor(33), 0.703, 1e-15);
    EXPECT_NEAR(scaleFactorFor(100), 0.1, 1e-15);
    // The first-run factor is what the engine takes as its default.
    EXPECT_NEAR(scaleFactorFor(33), defaultLaunchParameters("x").scale, 1e-15);
}

TEST(LaunchSettings, DirectStartUsesStoredSettingsOrTheFirstRunValues) {
    TtemporaryFolder folder;
    TsettingsStore none(folder.file("settings.json"));
    const TstoredSettings firstRun = storedSettingsOrFirstRun(none);
    EXPECT_EQ(firstRun.hres, "600");
    EXPECT_EQ(firstRun.keys[15], 77);
    EXPECT_FALSE(std::filesystem::exists(folder.file("settings.json")));  // nothing is saved

    writeFile(folder.file("settings.json"), settingsDocument("\"hres\": \"1280\", \"vres\": \"720\", \"fullscreen\": 1, "
                                                             "\"elecom\": 0, \"languageid\": 0, \"mode\": 1, "
                                                             "\"quality\": 1, \"scalevalue\": 10, \"yadjust\": 0, "
                                                             "\"0\": 65"));
    TsettingsStore partial(folder.file("settings.json"));
    const TstoredSettings stored = storedSettingsOrFirstRun(partial);
    EXPECT_EQ(stored.hres, "1280");
    EXPECT_EQ(stored.scaleValue, 10);
    EXPECT_EQ(stored.keys[0], 52);  // "rotation" is missing: the keys go back to the default
}

TEST(Program, HelpNamesTheLauncherAndTheDirectStart) {
    const std::string command = builtProgram("launcher/TrellikGL38") + " --help";
    FILE* output = ::popen(command.c_str(), "r");
    ASSERT_NE(output, nullptr);
    std::string text;
    char buffer[256];
    while (std::fgets(buffer, sizeof(buffer), output)) text += buffer;
    EXPECT_EQ(::pclose(output), 0);
    EXPECT_NE(text.find("--start"), std::string::npos);
    EXPECT_NE(text.find("--autoplay"), std::string::npos);
    EXPECT_NE(text.find("launcher"), std::string::npos);
}

TEST(Program, RateGoesWithStartAsAChoosableRate) {
    const char* const autoplay[] = {"trellik", "--start", "--autoplay", "--rate", "1.5"};
    TcommandLine line;
    EXPECT_TRUE(readCommandLine(5, autoplay, line));
    EXPECT_EQ(line.rateHundredths, 150);
    const char* const bad[][4] = {{"trellik", "--start", "--rate", "2.05"}, {"trellik", "--start", "--rate", "0.45"},
                                  {"trellik", "--calibrate", "--rate", "1.5"}};
    for (const auto& arguments : bad) {
        TcommandLine refused;
        EXPECT_FALSE(readCommandLine(4, arguments, refused)) << arguments[3];
    }
    TcommandLine offStep;
    const char* const between[] = {"trellik", "--start", "--rate", "1.37"};
    EXPECT_FALSE(readCommandLine(4, between, offStep));
    EXPECT_EQ(offStep.refusal, rateRefusal("1.37")) << "the message says why";
    const char* const missing[] = {"trellik", "--start", "--rate"};
    TcommandLine noValue;
    EXPECT_FALSE(readCommandLine(3, missing, noValue));
    EXPECT_FALSE(noValue.refusal.empty());
}

TEST(Program, CalibrateIsADirectStartOfItsOwnAfterAnOptionalGameFolder) {
    const char* const alone[] = {"trellik", "--calibrate"};
    TcommandLine line;
    EXPECT_TRUE(readCommandLine(2, alone, line));
    EXPECT_TRUE(line.calibrate);
    EXPECT_FALSE(line.start);
    const char* const inFolder[] = {"trellik", "--game-dir", "/games/t", "--calibrate"};
    TcommandLine withFolder;
    EXPECT_TRUE(readCommandLine(4, inFolder, withFolder));
    EXPECT_TRUE(withFolder.calibrate);
    EXPECT_EQ(withFolder.gameFolder, "/games/t");
    const char* const plain[] = {"trellik"};
    TcommandLine launcher;
    EXPECT_TRUE(readCommandLine(1, plain, launcher));
    EXPECT_FALSE(launcher.calibrate || launcher.start);
}

TEST(Program, ReplayTakesAPlayIdAfterStartAndNothingElse) {
    const char* const replay[] = {"trellik", "--start", "--replay", "42"};
    TcommandLine line;
    EXPECT_TRUE(readCommandLine(4, replay, line));
    EXPECT_TRUE(line.start);
    EXPECT_EQ(line.replayId, 42);
    for (const char* id : {"", "0", "-3", "4x", "+4", "99999999999999999999"}) {
        const char* const wrong[] = {"trellik", "--start", "--replay", id};
        TcommandLine refused;
        EXPECT_FALSE(readCommandLine(4, wrong, refused)) << id;
    }
    const char* const withAutoplay[] = {"trellik", "--start", "--autoplay", "--replay", "4"};
    TcommandLine both;
    EXPECT_FALSE(readCommandLine(5, withAutoplay, both));
}

// Autoplay belongs to a direct start only; a stray option must not open the launcher or a game.
TEST(Program, RefusesOptionsOutsideTheUsage) {
    for (const char* options : {" --autoplay", " --autoplay --start", " --start --autoplay extra", " --start -x",
                                " --calibrate --autoplay", " --start --calibrate", " --calibrate -x"}) {
        const std::string command = builtProgram("launcher/TrellikGL38") + options + " 2>/dev/null";
        FILE* output = ::popen(command.c_str(), "r");
        ASSERT_NE(output, nullptr);
        char buffer[256];
        while (std::fgets(buffer, sizeof(buffer), output)) {
        }
        const int status = ::pclose(output);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 2) << options;
    }
}

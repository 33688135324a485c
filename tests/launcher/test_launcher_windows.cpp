// The launcher window: first run, repaired and corrupt settings, languages, keys, start, errors.
#include <gtest/gtest.h>

#include <QFocusEvent>
#include <QTest>

#include <nlohmann/json.hpp>

#include <stdexcept>

#include "launcher/launchSettings.h"
#include "platform/store/rankingSettings.h"
#include "platform/net/downloadFileCode.h"
#include "tests/support/updateServerFixture.h"
#include "tests/launcher/launcherTestSupport.h"

namespace {

const char* const keyCaptions[16] = {"4", "5", "6", "7", "R", "T", "Y", "U",
                                     "F", "G", "H", "J", "V", "B", "N", "M"};

nlohmann::json storedValues(const TlauncherSandbox& sandbox) {
    return nlohmann::json::parse(readFile(sandbox.settingsFile()));
}

// A complete settings file with everything away from the first-run values.
nlohmann::json changedValues() {
    nlohmann::json values = {{"hres", "1024"}, {"vres", "768"}, {"fullscreen", 1}, {"elecom", 0},
                             {"languageid", 1}, {"mode", 0},    {"quality", 1},    {"scalevalue", 50},
                             {"yadjust", -7},   {"rotation", 2}};
    for (int i = 0; i < 16; ++i) values[std::to_string(i)] = 65 + i;
    return values;
}

void storeValues(const TlauncherSandbox& sandbox, const nlohmann::json& values) {
    std::filesystem::create_directories(std::filesystem::path(sandbox.settingsFile()).parent_path());
    writeFile(sandbox.settingsFile(), values.dump());
}

// Records the game runs instead of opening the game window.
struct TrecordedRuns {
    std::vector<LaunchParameters> runs;
    void attach(TloadingForm& form) {
        form.gameRunner = [this](TtrellikGL&, const LaunchParameters& parameters) { runs.push_back(parameters); };
    }
};

}  // namespace

TEST(LauncherWindow, FirstRunStoresTheFirstRunValuesAndShowsEnglish) {
    TlauncherSandbox sandbox;
    TmessageRecorder messages;
    auto windows = openLauncher();
    const TloadingForm& form = windows->loadingForm;

    const nlohmann::json values = storedValues(sandbox);
    const nlohmann::json expected = {
        {"hres", "600"}, {"vres", "600"},   {"fullscreen", 0},  {"elecom", 0},   {"languageid", 0},
        {"mode", 1},     {"quality", 0},    {"scalevalue", 33}, {"rotation", 0}, {"yadjust", 4},
        {"0", 52},       {"1", 53},         {"2", 54},          {"3", 55},       {"4", 82},
        {"5", 84},       {"6", 89},         {"7", 85},          {"8", 70},       {"9", 71},
        {"10", 72},      {"11", 74},        {"12", 86},         {"13", 66},      {"14", 78},
        {"15", 77},      {"audiooffset", 0}, {"visualoffset", 0}, {"assistsounds", 0}, {"assistvolume", 100},
        {"rate", 100},   {"practice", 0},   {"practicebar", 1}};
    EXPECT_EQ(values, expected);  // json equality compares types too: "600" is a string, 0 a number
    for (const auto& [name, value] : values.items())
        EXPECT_EQ(value.is_string(), name == "hres" || name == "vres") << name;

    for (int i = 0; i < 16; ++i) EXPECT_EQ(form.keyButtons[i]->text(), keyCaptions[i]);
    EXPECT_EQ(form.startButton->text(), "Touch!");
    EXPECT_EQ(form.resolutionGroup->title(), " Resolution ");
    EXPECT_EQ(form.fileMenu->title(), "&File");
    EXPECT_EQ(form.statusText(), "Checking for updates...");
    EXPECT_EQ(form.statusColour, QColor(Qt::black));
    EXPECT_TRUE(form.startButton->hasFocus() || QApplication::focusWidget() == nullptr);
    EXPECT_TRUE(form.windowTitle().startsWith("TrellikGL v3.8 build "));
    EXPECT_TRUE(messages.messages().empty());
}

TEST(LauncherWindow, AMissingValueRestoresTheKeysKeepsTheRestAndWritesEverythingBack) {
    TlauncherSandbox sandbox;
    nlohmann::json values = changedValues();
    values.erase("rotation");
    storeValues(sandbox, values);
    auto windows = openLauncher();
    const TloadingForm& form = windows->loadingForm;

    EXPECT_EQ(form.horizontalResolutionEdit->text(), "1024");
    EXPECT_EQ(form.verticalResolutionEdit->text(), "768");
    EXPECT_TRUE(form.fullscreenCheck->isChecked());
    EXPECT_EQ(form.languageId, 1);
    EXPECT_TRUE(form.ripplesRadio->isChecked());
    EXPECT_EQ(form.qualitySlider->value(), 1);
    EXPECT_EQ(windows->extraSettingsForm.scaleSlider->value(), 50);
    EXPECT_EQ(windows->extraSettingsForm.yAdjustmentSlider->value(), -7);
    for (int i = 0; i < 16; ++i) EXPECT_EQ(form.keyCodes[i], defaultKeyLayout[i]);

    nlohmann::json expected = changedValues();
    expected["rotation"] = 0;
    expected["audiooffset"] = 0;  // absent from the file: 0, the rest read all the same
    expected["assistsounds"] = 0;
    expected["assistvolume"] = 100;
    expected["rate"] = 100;
    expected["practice"] = 0;
    expected["practicebar"] = 1;
    expected["visualoffset"] = 0;
    for (int i = 0; i < 16; ++i) expected[std::to_string(i)] = defaultKeyLayout[i];
    EXPECT_EQ(storedValues(sandbox), expected);
}

TEST(LauncherWindow, ACorruptSettingsFileIsKeptAsideAndReplaced) {
    TlauncherSandbox sandbox;
    std::filesystem::create_directories(std::filesystem::path(sandbox.settingsFile()).parent_path());
    writeFile(sandbox.settingsFile(), "{\"Software\\\\Trellik\": {\"hres\": \"12");
    TmessageRecorder messages;
    auto windows = openLauncher();
    EXPECT_EQ(readFile(sandbox.settingsFile() + ".bad"), "{\"Software\\\\Trellik\": {\"hres\": \"12");
    EXPECT_EQ(storedValues(sandbox).at("hres"), "600");
    EXPECT_EQ(storedValues(sandbox).at("15"), 77);
    ASSERT_EQ(messages.messages().size(), 1u);
    EXPECT_NE(messages.messages()[0].text.find("settings.json.bad"), std::string::npos);
}

TEST(LauncherWindow, JapaneseChosenStaysJapaneseFromTheFirstShowing) {
    TlauncherSandbox sandbox;
    {
        auto windows = openLauncher();
        windows->loadingForm.japaneseMenu->trigger();
        windows->loadingForm.close();
    }
    auto windows = openLauncher();
    const TloadingForm& form = windows->loadingForm;
    EXPECT_EQ(form.languageId, 1);
    for (int pair : {0, 1, 3, 4, 5, 6, 7, 8, 9, 10, 11, 19, 20, 21, 22}) {
        const QString english = QString::fromUtf8(captionTable[pair * 2]);
        const QString japanese = QString::fromUtf8(captionTable[pair * 2 + 1]);
        const QString shown = pair == 0    ? form.languagesMenu->title()
                              : pair == 1  ? form.exitMenu->text()
                              : pair == 3  ? form.aboutMenu->text()
                              : pair == 4  ? form.resolutionGroup->title()
                              : pair == 5  ? form.fullscreenCheck->text()
                              : pair == 6  ? form.controlsGroup->title()
                              : pair == 7  ? form.elecomCheck->text()
                              : pair == 8  ? form.graphicsModeGroup->title()
                              : pair == 9  ? form.lowLabel->text()
                              : pair == 10 ? form.highLabel->text()
                              : pair == 11 ? form.startButton->text()
                              : pair == 19 ? form.fileMenu->title()
                              : pair == 20 ? form.helpMenu->title()
                              : pair == 21 ? form.doUpdateMenu->text()
                                           : form.motdMenu->text();
        EXPECT_EQ(shown, japanese) << "pair " << pair << " still reads " << english.toStdString();
    }
    EXPECT_EQ(form.statusText(), "アップデート確認中");
    EXPECT_EQ(windows->controlSetWindow.controlsStatus->text(), "キーを押して設定。【ESC】でキャンセル");
    EXPECT_EQ(form.extraMenu->title(), "&Extra");  // the same in both languages
    EXPECT_EQ(windows->extraSettingsForm.calibrateButton->text(), "キャリブレーション…");
    EXPECT_EQ(windows->extraSettingsForm.audioOffsetLabel->text(), "音声オフセット");
}

TEST(LauncherWindow, SwitchingLanguageRenewsTheStatusLineWithoutItsPercentage) {
    TlauncherSandbox sandbox;
    auto windows = openLauncher();
    TloadingForm& form = windows->loadingForm;
    form.setStatus(18);
    EXPECT_EQ(form.statusText(), "Updating: ");
    form.setLanguage(1);
    EXPECT_EQ(form.statusText(), "アップデート中: ");
    form.setLanguage(0);
    EXPECT_EQ(form.statusText(), "Updating: ");
}

TEST(LauncherWindow, EscapeKeepsTheKeyAndAKeyOfAnotherPanelIsAssignedToBoth) {
    TlauncherSandbox sandbox;
    auto windows = openLauncher();
    TloadingForm& form = windows->loadingForm;

    whenModalOpens([](QWidget& modal) { QTest::keyClick(&modal, Qt::Key_Escape); });
    QTest::mouseClick(form.keyButtons[2], Qt::LeftButton);
    EXPECT_EQ(form.keyCodes[2], 54);
    EXPECT_EQ(form.keyButtons[2]->text(), "6");
    EXPECT_EQ(windows->controlSetWindow.panelShapes[2]->palette().color(QPalette::Window), QColor(255, 0, 0));

    whenModalOpens([](QWidget& modal) { QTest::keyClick(&modal, Qt::Key_R, Qt::ShiftModifier); });
    form.getNewKey(0);
    EXPECT_EQ(form.keyCodes[0], 'R');
    EXPECT_EQ(form.keyCodes[4], 'R');
    EXPECT_EQ(form.keyButtons[0]->text(), "R");

    whenModalOpens([](QWidget& modal) { QTest::keyClick(&modal, Qt::Key_5, Qt::KeypadModifier); });
    form.getNewKey(15);
    EXPECT_EQ(form.keyCodes[15], 101);
    EXPECT_EQ(form.keyButtons[15]->text(), "NUM5");

    form.saveSettings();
    EXPECT_EQ(storedValues(sandbox).at("0"), 'R');
    EXPECT_EQ(storedValues(sandbox).at("15"), 101);
}

TEST(LauncherWindow, ElecomGreysTheKeysAndTheGameGetsTheNumericPad) {
    TlauncherSandbox sandbox;
    auto windows = openLauncher();
    TloadingForm& form = windows->loadingForm;
    TrecordedRuns runs;
    runs.attach(form);

    form.elecomCheck->click();
    for (int i = 0; i < 16; ++i) {
        EXPECT_FALSE(form.keyButtons[i]->isEnabled());
        EXPECT_EQ(form.keyButtons[i]->text(), keyCaptions[i]);
    }
    form.startButtonClick();
    ASSERT_EQ(runs.runs.size(), 1u);
    const int32_t numericPad[16] = {9, 111, 106, 8, 103, 104, 105, 109, 100, 101, 102, 107, 97, 98, 99, 13};
    for (int i = 0; i < 16; ++i) EXPECT_EQ(runs.runs[0].keys[i], numericPad[i]);
    EXPECT_EQ(storedValues(sandbox).at("elecom"), 1);
    EXPECT_EQ(storedValues(sandbox).at("0"), 52);  // the assigned keys are kept, not the pad

    form.elecomCheck->click();
    for (QPushButton* button : form.keyButtons) EXPECT_TRUE(button->isEnabled());
}

TEST(LauncherWindow, AStoredElecomSettingGreysTheKeysOnReading) {
    TlauncherSandbox sandbox;
    nlohmann::json values = changedValues();
    values["elecom"] = 5;  // any number but 0 is true
    storeValues(sandbox, values);
    auto windows = openLauncher();
    EXPECT_TRUE(windows->loadingForm.elecomCheck->isChecked());
    EXPECT_FALSE(windows->loadingForm.keyButtons[7]->isEnabled());
    EXPECT_EQ(windows->extraSettingsForm.rotationCode(), 2);
}

TEST(LauncherWindow, AResolutionThatIsNoNumberFallsBackToSixHundred) {
    TlauncherSandbox sandbox;
    nlohmann::json values = changedValues();
    values["hres"] = "abc";
    values["vres"] = "900";
    storeValues(sandbox, values);
    auto windows = openLauncher();
    TloadingForm& form = windows->loadingForm;
    TrecordedRuns runs;
    runs.attach(form);
    EXPECT_EQ(form.horizontalResolutionEdit->text(), "abc");  // read unchecked

    form.horizontalResolutionEdit->setText("12x");
    form.horizontalResolutionEditExit();
    EXPECT_EQ(form.horizontalResolutionEdit->text(), "600");
    form.verticalResolutionEdit->setText("tall");
    form.verticalResolutionEditExit();
    EXPECT_EQ(form.verticalResolutionEdit->text(), "900");  // the stored value when it is a number
    form.verticalResolutionEdit->setText("-5");
    form.verticalResolutionEditExit();
    EXPECT_EQ(form.verticalResolutionEdit->text(), "-5");  // no range check

    form.horizontalResolutionEdit->setText("wide");  // never left: the start passes 600
    form.startButtonClick();
    ASSERT_EQ(runs.runs.size(), 1u);
    EXPECT_EQ(runs.runs[0].width, 600);
    EXPECT_EQ(runs.runs[0].height, -5);
}

TEST(LauncherWindow, LeavingTheEditByFocusChecksIt) {
    TlauncherSandbox sandbox;
    auto windows = openLauncher();
    TloadingForm& form = windows->loadingForm;
    form.horizontalResolutionEdit->setText("nine");
    QFocusEvent leaving(QEvent::FocusOut, Qt::TabFocusReason);
    QApplication::sendEvent(form.horizontalResolutionEdit, &leaving);
    EXPECT_EQ(form.horizontalResolutionEdit->text(), "600");
}

TEST(LauncherWindow, StartHandsTheSettingsToTheGameAndSavesThem) {
    TlauncherSandbox sandbox;
    auto windows = openLauncher();
    TloadingForm& form = windows->loadingForm;
    TrecordedRuns runs;
    runs.attach(form);
    form.horizontalResolutionEdit->setText("800");
    form.fullscreenCheck->setChecked(true);
    windows->extraSettingsForm.rot90radio->setChecked(true);
    windows->extraSettingsForm.scaleSlider->setValue(0);
    windows->extraSettingsForm.yAdjustmentSlider->setValue(-3);
    form.songDebugOutputMenu->setEnabled(true);
    form.songDebugOutputMenu->trigger();

    form.startButtonClick();
    EXPECT_FALSE(form.isVisible());
    ASSERT_EQ(runs.runs.size(), 1u);
    const LaunchParameters& run = runs.runs[0];
    EXPECT_EQ(run.quality, 0);
    EXPECT_EQ(run.width, 800);
    EXPECT_EQ(run.height, 600);
    EXPECT_TRUE(run.fullscreen);
    for (int i = 0; i < 16; ++i) EXPECT_EQ(run.keys[i], defaultKeyLayout[i]);
    EXPECT_EQ(run.rotation, 90);
    EXPECT_EQ(run.scale, 1.0);
    EXPECT_EQ(run.yAdjust, -3.0);
    EXPECT_TRUE(run.songDebug);
    EXPECT_EQ(run.exeName, form.exeName);
    EXPECT_EQ(storedValues(sandbox).at("hres"), "800");
    EXPECT_EQ(storedValues(sandbox).at("rotation"), 1);
    EXPECT_EQ(storedValues(sandbox).at("yadjust"), -3);
}

// The game keeps new offsets in the file during the run; the launcher's own save after it (on
// closing) must not put the offsets it held before the run back.
TEST(LauncherWindow, CalibrateStartsACalibrationRunAndTheOffsetsItKeepsOutliveTheLaunchersSave) {
    TlauncherSandbox sandbox;
    auto windows = openLauncher();
    TloadingForm& form = windows->loadingForm;
    TextraSettingsForm& extra = windows->extraSettingsForm;
    std::vector<LaunchParameters> runs;
    form.gameRunner = [&runs](TtrellikGL&, const LaunchParameters& parameters) {
        runs.push_back(parameters);
        parameters.saveOffsets(40, -60);
    };
    extra.audioOffsetSpin->setValue(15);
    extra.visualOffsetSpin->setValue(-5);
    // Shown without its own event loop: an earlier test's end of the application would end it.
    extra.show();
    extra.calibrateButton->click();
    ASSERT_EQ(runs.size(), 1u);
    EXPECT_TRUE(runs[0].calibrate);
    EXPECT_EQ(runs[0].audioOffset, 15);
    EXPECT_EQ(runs[0].visualOffset, -5);
    EXPECT_FALSE(extra.isVisible());
    form.saveSettings();
    EXPECT_EQ(storedValues(sandbox).at("audiooffset"), 40);
    EXPECT_EQ(storedValues(sandbox).at("visualoffset"), -60);

    form.startButtonClick();
    ASSERT_EQ(runs.size(), 2u);
    EXPECT_FALSE(runs[1].calibrate);  // "Touch!" opens the title
    EXPECT_EQ(runs[1].audioOffset, 40);
}

// The game keeps the token the ranking server gave in the file during the run; the launcher keeps
// the server and name it shows and must not drop the token on its own save after the run.
TEST(LauncherWindow, TheRankingServerAndNameAreKeptAndTheGamesTokenOutlivesTheLaunchersSave) {
    TlauncherSandbox sandbox;
    auto windows = openLauncher();
    TloadingForm& form = windows->loadingForm;
    TextraSettingsForm& extra = windows->extraSettingsForm;
    form.gameRunner = [](TtrellikGL&, const LaunchParameters& parameters) {
        keepRankingRegistration(parameters.settingsFile, {"http://127.0.0.1:9", "Mika", "abcd", 7});
    };
    extra.rankingUrlEdit->setText(" http://127.0.0.1:9 ");
    extra.rankingNameEdit->setText("Mika");
    form.startButtonClick();
    form.saveSettings();
    const nlohmann::json values = storedValues(sandbox);
    EXPECT_EQ(values.at("rankingurl"), "http://127.0.0.1:9");
    EXPECT_EQ(values.at("rankingname"), "Mika");
    EXPECT_EQ(values.at("rankingtoken"), "abcd");
    auto reopened = openLauncher();
    EXPECT_EQ(reopened->extraSettingsForm.rankingNameEdit->text(), "Mika");
}

TEST(LauncherWindow, StartWhileTheUpdateDownloadsIsRefusedWithItsProgress) {
    TlauncherSandbox sandbox;
    auto windows = openLauncher();
    TloadingForm& form = windows->loadingForm;
    TrecordedRuns runs;
    runs.attach(form);
    TmessageRecorder messages;
    form.updateThread.updateDownloading = true;
    form.updateThread.bytesTotal = 8000000;
    form.updateThread.bytesReceived = 1000000;
    form.startButtonClick();
    ASSERT_EQ(messages.messages().size(), 1u);
    EXPECT_EQ(messages.messages()[0].text, "Update is at 12.50% please wait!");
    EXPECT_TRUE(runs.runs.empty());
    EXPECT_TRUE(form.isVisible());
}

TEST(LauncherWindow, AnErrorEscapingAHandlerIsShownWithItsText) {
    TlauncherSandbox sandbox;
    auto windows = openLauncher();
    TloadingForm& form = windows->loadingForm;
    form.gameRunner = [](TtrellikGL&, const LaunchParameters&) { throw std::runtime_error("The game failed: no GL"); };
    TmessageRecorder messages;
    QTest::mouseClick(form.startButton, Qt::LeftButton);
    ASSERT_EQ(messages.messages().size(), 1u);
    EXPECT_EQ(messages.messages()[0].text, "The game failed: no GL");
    EXPECT_EQ(messages.messages()[0].kind, TmessageKind::error);
}

TEST(LauncherWindow, AFailedMusicFetchIsShownOnceAndTheSettingsAreStillRead) {
    TlauncherSandbox sandbox;
    std::filesystem::remove(sandbox.gameFile("snd/loadingmenumusic.mp3"));
    storeValues(sandbox, changedValues());
    setUpdateServerUrl("http://127.0.0.1:9/");  // nothing listens on the discard port
    TmessageRecorder messages;
    auto windows = openLauncher();
    setUpdateServerUrl(defaultUpdateServerUrl());
    EXPECT_EQ(messages.messages().size(), 1u);
    EXPECT_EQ(windows->loadingForm.horizontalResolutionEdit->text(), "1024");
    EXPECT_TRUE(std::filesystem::is_directory(sandbox.gameFile("SND")) ||
                std::filesystem::is_directory(sandbox.gameFile("snd")));
}

TEST(LauncherWindow, MissingMusicIsFetchedQuietlyFromTheUpdateServer) {
    TlauncherSandbox sandbox;
    std::filesystem::remove(sandbox.gameFile("snd/loadingmenumusic.mp3"));
    TtemporaryFolder root;
    std::filesystem::create_directories(root.file("snd"));
    writeFile(root.file("snd/loadingmenumusic.mp3"), "music bytes");
    TupdateServerFixture server(root.path());
    setUpdateServerUrl(server.baseUrl());
    TmessageRecorder messages;
    auto windows = openLauncher();
    setUpdateServerUrl(defaultUpdateServerUrl());
    EXPECT_TRUE(messages.messages().empty());
    EXPECT_EQ(readFile(sandbox.gameFile("snd/loadingmenumusic.mp3")), "music bytes");
    std::vector<TservedRequest> fetches = server.requests();
    std::erase_if(fetches, [](const TservedRequest& request) { return request.path == "/latestVersion.txt"; });
    ASSERT_EQ(fetches.size(), 1u);  // besides the update check, which asks the same server
    EXPECT_EQ(fetches[0].path, "/snd/loadingmenumusic.mp3");
}

TEST(LauncherWindow, MenusHoldTheirMnemonicsAndStates) {
    TlauncherSandbox sandbox;
    auto windows = openLauncher();
    const TloadingForm& form = windows->loadingForm;
    EXPECT_EQ(form.englishMenu->text(), "&English");
    EXPECT_EQ(form.japaneseMenu->text(), "日本語 (&n)");
    EXPECT_EQ(form.extraSettingsMenu->text(), "E&xtra Settings");
    EXPECT_FALSE(form.songDebugOutputMenu->isEnabled());
    EXPECT_TRUE(form.songDebugOutputMenu->isCheckable());
    EXPECT_FALSE(form.doUpdateMenu->isEnabled());
    EXPECT_FALSE(form.aboutMenu->isEnabled());
    EXPECT_FALSE(form.qualitySlider->isEnabled());
    EXPECT_FALSE(form.panmozRadio->isEnabled());
    EXPECT_EQ(form.centralWidget()->size(), QSize(283, 574 - 19));
    EXPECT_EQ(form.keyButtons[15]->geometry().topLeft(), QPoint(183, 213));
}

// The play assists setting: stored beside the offsets, shown in the extra settings, handed to the
// game, and song select's switch kept alone in the file.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "launcher/extraSettingsFormCode.h"
#include "launcher/launchSettings.h"
#include "platform/store/settingsStore.h"
#include "tests/support/testSupport.h"

TEST(StoredAssists, ValuesOutsideTheirRangeReadAsOffAndFullVolume) {
    struct Tcase {
        int32_t stored;
        int32_t mode;
        int32_t volume;
    } cases[] = {{-1, 0, 100}, {0, 0, 0}, {3, 3, 3}, {4, 0, 4}, {100, 0, 100}, {101, 0, 100}};
    for (const Tcase& tried : cases) {
        TsettingsStore store("unused");
        store.openFromBytes(nlohmann::json{{"assistsounds", tried.stored}, {"assistvolume", tried.stored}}.dump());
        TstoredSettings read;
        readStoredAssists(store, read);
        EXPECT_EQ(read.assistMode, tried.mode) << tried.stored;
        EXPECT_EQ(read.assistVolume, tried.volume) << tried.stored;
    }
}

TEST(StoredAssists, TheFormShowsThemAndSongSelectsSwitchKeepsTheVolume) {
    TextraSettingsForm form;
    ASSERT_EQ(form.assistCombo->count(), 4);
    form.assistCombo->setCurrentIndex(3);
    form.assistVolumeSpin->setValue(250);
    EXPECT_EQ(form.assistVolumeSpin->value(), 100);
    form.defaultsButtonClick();
    EXPECT_EQ(form.assistCombo->currentIndex(), 0);

    TtemporaryFolder folder;
    const std::string path = folder.file("settings.json");
    TstoredSettings settings;
    settings.assistMode = 1;
    settings.assistVolume = 40;
    const LaunchParameters parameters = launchParametersFor(settings, false, "x", path);
    EXPECT_EQ(parameters.assistMode, 1);
    EXPECT_EQ(parameters.assistVolume, 40);
    writeFile(path, nlohmann::json{{"hres", "800"}, {"assistvolume", 70}}.dump());
    parameters.saveAssistMode(2);
    const nlohmann::json expected = {{"hres", "800"}, {"assistvolume", 70}, {"assistsounds", 2}};
    EXPECT_EQ(nlohmann::json::parse(readFile(path)), expected);
}

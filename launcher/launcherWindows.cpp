// The window creation order, the launcher's event loop and the direct start of a game run.
#include "launcher/launcherWindows.h"

#include <memory>
#include <optional>
#include <string>

#include "launcher/launchSettings.h"
#include "launcher/launcherApplication.h"
#include "platform/window/messageBox.h"

TlauncherWindows::TlauncherWindows() {
    loadingForm.attachWindows(motdForm, extraSettingsForm, controlSetWindow);
}

int runLauncher(int& argc, char** argv) {
    TlauncherApplication application(argc, argv);
    setMessageBoxBackend(qtMessageBox);
    int status = 0;
    {
        TlauncherWindows windows;
        windows.loadingForm.show();
        status = application.exec();
    }
    setMessageBoxBackend(nullptr);
    return status;
}

namespace {

// The kept play of a replay, when the records hold it and its chart is unchanged; else the reason
// is shown and nothing is returned.
std::shared_ptr<const TkeptPlay> playToReplay(const std::string& recordsPath, int64_t id) {
    TrecordsDatabase records(recordsPath);
    std::optional<TkeptPlay> play = records.play(id);
    std::string refusal;
    if (!play) refusal = "There is no play " + std::to_string(id) + " in the records (" + recordsPath + ").";
    else refusal = replayRefusal(*play);
    if (refusal.empty()) return std::make_shared<const TkeptPlay>(std::move(*play));
    messageBox(refusal, applicationTitle, TmessageKind::error);
    return nullptr;
}

}  // namespace

int startGameDirectly(const TcommandLine& line) {
    TsettingsStore store(TsettingsStore::defaultFilePath());
    const TstoredSettings settings = storedSettingsOrFirstRun(store);
    if (!store.setAsideReason().empty()) messageBox(store.setAsideReason(), applicationTitle, TmessageKind::warning);
    auto game = std::make_unique<TtrellikGL>();
    if (line.autoplay) game->autoplay = std::make_unique<TkeyPusher>();
    LaunchParameters parameters = launchParametersFor(settings, false, runningExecutable(), store.filePath());
    parameters.calibrate = line.calibrate;
    if (line.rateHundredths != 0) setRateForThisRun(parameters.practice, line.rateHundredths);
    if (line.replayId != 0) {
        parameters.replay = playToReplay(parameters.recordsPath, line.replayId);
        if (!parameters.replay) return 1;
    }
    runGame(*game, parameters);
    return 0;
}

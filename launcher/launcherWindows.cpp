// The window creation order, the launcher's event loop and the direct start of a game run.
#include "launcher/launcherWindows.h"

#include <memory>

#include "launcher/launchSettings.h"
#include "launcher/launcherApplication.h"
#include "platform/messageBox.h"

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

int startGameDirectly(bool autoplay, bool calibrate) {
    TsettingsStore store(TsettingsStore::defaultFilePath());
    const TstoredSettings settings = storedSettingsOrFirstRun(store);
    if (!store.setAsideReason().empty()) messageBox(store.setAsideReason(), applicationTitle, TmessageKind::warning);
    auto game = std::make_unique<TtrellikGL>();
    if (autoplay) game->autoplay = std::make_unique<TkeyPusher>();
    LaunchParameters parameters = launchParametersFor(settings, false, runningExecutable(), store.filePath());
    parameters.calibrate = calibrate;
    runGame(*game, parameters);
    return 0;
}

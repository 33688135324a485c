// What the launcher tests share: a fresh user and game folder, and answers to modal windows.
#pragma once

#include <functional>
#include <memory>
#include <string>

#include <QApplication>
#include <QTimer>
#include <QWidget>

#include "launcher/launcherWindows.h"
#include "tests/support/testSupport.h"

// A temporary user (XDG_CONFIG_HOME) and a game folder as working directory, with the launcher
// music present so that nothing is fetched.
class TlauncherSandbox {
public:
    TlauncherSandbox() : game(folder.file("game")) {
        std::filesystem::create_directories(folder.file("config"));
        std::filesystem::create_directories(folder.file("game/snd"));
        writeFile(folder.file("game/snd/loadingmenumusic.mp3"), "not really music");
        ::setenv("XDG_CONFIG_HOME", folder.file("config").c_str(), 1);
        directory = std::make_unique<TworkingDirectory>(game);
    }
    ~TlauncherSandbox() { ::unsetenv("XDG_CONFIG_HOME"); }

    std::string settingsFile() const { return folder.file("config/Trellik/settings.json"); }
    std::string gameFile(const std::string& name) const { return game + "/" + name; }

private:
    TtemporaryFolder folder;
    std::string game;
    std::unique_ptr<TworkingDirectory> directory;
};

// Runs action on the modal window as soon as it is open (the next turn of its event loop).
inline void whenModalOpens(std::function<void(QWidget& modal)> action) {
    QTimer::singleShot(0, [action] {
        QWidget* modal = QApplication::activeModalWidget();
        if (modal) action(*modal);
    });
}

// The launcher windows, shown as at program start.
inline std::unique_ptr<TlauncherWindows> openLauncher() {
    auto windows = std::make_unique<TlauncherWindows>();
    windows->loadingForm.show();
    return windows;
}

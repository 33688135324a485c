// The launcher window: display and key settings, languages, the status line and the start button.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include <QAction>
#include <QCheckBox>
#include <QColor>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMainWindow>
#include <QMenu>
#include <QPushButton>
#include <QRadioButton>
#include <QSlider>

#include "engine/trellikGL38Engine.h"
#include "launcher/launcherMusic.h"
#include "launcher/thread_updater.h"
#include "platform/store/settingsStore.h"

class TcontrolSetWindow;
class TextraSettingsForm;
class TmotdForm;
class TstatusPanel;

// The English and Japanese captions: the string of pair n in language l is entry n * 2 + l.
constexpr int captionPairs = 24;
extern const char* const captionTable[captionPairs * 2];

// Runs one game; runGame by default.
using TgameRunner = std::function<void(TtrellikGL& game, const LaunchParameters& parameters)>;

class TloadingForm : public QMainWindow {
public:
    // The creation step: controls, caption with the build number, key buttons.
    explicit TloadingForm(QWidget* parent = nullptr);
    ~TloadingForm() override;

    // The other three windows, which exist by the time the launcher is shown.
    void attachWindows(TmotdForm& motd, TextraSettingsForm& extraSettings, TcontrolSetWindow& controlSet);

    void loadSettings();
    void saveSettings();
    void setDefaultKeys();
    void refreshButton(int index);
    void setLanguage(int language);
    void setStatus(int message);
    void getNewKey(int index);
    void elecomCheckClick();
    void horizontalResolutionEditExit();
    void verticalResolutionEditExit();
    void startButtonClick();
    // The extra settings window's "Calibrate…": a game run that opens the calibration.
    void calibrateButtonClick();
    void exitMenuClick();
    void extraSettingsMenuClick();
    void motdMenuClick();
    void doUpdateMenuClick();
    // Shows what the update thread reports (an UpdateCode); other codes are ignored.
    void onUpdateMessage(int code);
    // Saves the settings, puts the downloaded program in place of this one, starts it and ends.
    void replaceAndRestart();

    // The fraction of the update download received so far (0 before its size is known).
    double getProgress() const;
    // The status text as shown.
    QString statusText() const;

    QLabel* Label2 = nullptr;
    QGroupBox* resolutionGroup = nullptr;
    QLineEdit* horizontalResolutionEdit = nullptr;
    QLabel* Label1 = nullptr;
    QLineEdit* verticalResolutionEdit = nullptr;
    QCheckBox* fullscreenCheck = nullptr;
    QGroupBox* controlsGroup = nullptr;
    QCheckBox* elecomCheck = nullptr;
    QPushButton* keyButtons[16] = {};
    QGroupBox* graphicsModeGroup = nullptr;
    QRadioButton* panmozRadio = nullptr;
    QRadioButton* ripplesRadio = nullptr;
    QLabel* lowLabel = nullptr;
    QLabel* highLabel = nullptr;
    QSlider* qualitySlider = nullptr;
    QPushButton* startButton = nullptr;
    TstatusPanel* mainFormStatus = nullptr;

    QMenu* fileMenu = nullptr;
    QMenu* languagesMenu = nullptr;
    QAction* englishMenu = nullptr;
    QAction* japaneseMenu = nullptr;
    QAction* exitMenu = nullptr;
    QMenu* extraMenu = nullptr;
    QAction* extraSettingsMenu = nullptr;
    QAction* songDebugOutputMenu = nullptr;
    QMenu* helpMenu = nullptr;
    QAction* doUpdateMenu = nullptr;
    QAction* motdMenu = nullptr;
    QAction* aboutMenu = nullptr;

    int32_t languageId = 0;
    int32_t keyCodes[16] = {};
    // The number of the status message on show, and the colour of its text.
    int32_t statusIndex = 13;
    QColor statusColour = Qt::black;

    // The game's state for the whole program run.
    std::unique_ptr<TtrellikGL> engine;
    TgameRunner gameRunner;
    std::string exeName;
    // Whether the player may replace exeName; when not, a newer build is only reported.
    bool programReplaceable = true;

    // Checks for a newer build from the show step on; downloads it after doUpdateMenuClick.
    TfileDownloaderThread updateThread;

protected:
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void formShow();
    void buildControls(QWidget* client);
    void buildKeyButtons();
    void buildMenus();
    void applyCaptions();
    void resolutionEditExit(QLineEdit* edit, const char* valueName);
    void startGame(bool calibrate);
    void reloadOffsets();
    TstoredSettings settingsFromControls() const;
    void applySettings(const TstoredSettings& settings);
    QString caption(int pair) const;

    TmotdForm* motdForm = nullptr;
    TextraSettingsForm* extraSettingsForm = nullptr;
    TcontrolSetWindow* controlSetWindow = nullptr;
    TsettingsStore settingsStore;
    TlauncherMusic music;
    bool shownOnce = false;
    bool readingAgain = false;
    // From the choice of the update until it fails, the game is not started.
    bool updateChosen = false;
    // While the game runs, what the update thread reports is left alone: the launcher ends with it.
    bool gameRunning = false;
};

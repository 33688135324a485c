// The launcher window: its controls, settings, languages, key assignment and the start of a game.
#include "launcher/mainFormCode.h"

#include <algorithm>
#include <exception>

#include <QApplication>
#include <QCloseEvent>
#include <QFontMetrics>
#include <QLayout>
#include <QMenuBar>
#include <QPainter>
#include <QScreen>
#include <QStatusBar>

#include "content/keyNamesCode.h"
#include "content/trellikSongDataLoader.h"
#include "launcher/controlsFormCode.h"
#include "launcher/extraSettingsFormCode.h"
#include "launcher/launchSettings.h"
#include "launcher/launcherApplication.h"
#include "launcher/motdFormCode.h"
#include "platform/buildNumber.h"
#include "platform/net/downloadFileCode.h"
#include "platform/store/rankingSettings.h"
#include "platform/window/messageBox.h"

const char* const captionTable[captionPairs * 2] = {
    "Languages", "言語を変更",
    "E&xit", "閉じる",
    "&Help", "ヘルプ",
    "&About Trellik", "Trellikについて (&A)",
    " Resolution ", " 表示の解像度 ",
    " Fullscreen", " フル・スクリーン表示 ",
    " Controls ", " コントロールのレイアウト ",
    " Using Elecom 10key", " エレコム１０キーを使用",
    " Graphics Mode ", " モード ",
    "Low", " 低",
    "High", " 高",
    "Touch!", "タッチ！",
    "Press key to assign. [ESC] to cancel.", "キーを押して設定。【ESC】でキャンセル",
    "Checking for updates...", "アップデート確認中",
    "You have the latest version", "最新ヴァージョンです",
    "There is an update available; see help menu to download", "アップデート有効！ダウンロードはヘルプメニューにて！",
    "Error: Unable to connect to server", "エラー：アップデートサーバーに接続出来ません",
    "Error: Unable to download update", "エラー：アップデートをダウンロード出来ません",
    "Updating: ", "アップデート中: ",
    "&File", "ファイル (&F)",
    "Help", "ヘルプ (&H)",
    "&Update to Latest Version", "最新ヴァージョンにアップデート(&U)",
    "MOTD", "本日のメッセージ (&M)",
    "Update available: use the package manager",
    "アップデート有効！パッケージマネージャーで更新",
};

// The owner-drawn status panel: its text from two pixels right of the left edge, at the top.
class TstatusPanel : public QWidget {
public:
    explicit TstatusPanel(QWidget* parent) : QWidget(parent) {}

    void setText(const QString& value, const QColor& colour) {
        text = value;
        textColour = colour;
        update();
    }
    const QString& shownText() const { return text; }

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter painter(this);
        painter.setPen(textColour);
        painter.drawText(rect().adjusted(2, 0, 0, 0), Qt::AlignLeft | Qt::AlignTop, text);
    }

private:
    QString text;
    QColor textColour = Qt::black;
};

namespace {

constexpr int clientWidth = 283;
constexpr int clientHeight = 574;
constexpr int statusHeight = 19;
constexpr int keyColumns[4] = {40, 87, 135, 183};
constexpr int keyWidths[4] = {41, 42, 42, 41};
constexpr int keyRows[4] = {72, 119, 166, 213};
constexpr int escapeKey = 27;

const QColor statusRed(255, 0, 0);
const QColor statusGreen(0, 128, 0);
const QColor statusBlue(0, 0, 255);

// A fraction as "###,##0.00": at least one integer digit, thousands grouped, two decimals.
std::string percentage(double fraction) {
    return formatFixed(fraction * 100, 2, true);
}

// The system's font is wider than the one the layout was drawn for: a caption that does not
// fit widens its control up to the edge of the group it sits in.
// Past that edge its letters are drawn closer together.
void widenToCaption(QWidget* control, int designWidth) {
    control->setFont(QFont());
    const int room = control->parentWidget()->width() - control->x() - 4;
    const int wanted = control->sizeHint().width();
    control->resize(std::max(designWidth, std::min(wanted, room)), control->height());
    if (wanted <= room) return;
    QFont closer = control->font();
    closer.setLetterSpacing(QFont::PercentageSpacing, std::max(80.0, 100.0 * room / wanted));
    control->setFont(closer);
}

QLabel* label(QWidget* parent, const QString& caption, int left, int top) {
    QLabel* created = new QLabel(caption, parent);
    created->move(left, top);
    created->adjustSize();
    return created;
}

QGroupBox* group(QWidget* parent, int left, int top, int width, int height) {
    QGroupBox* created = new QGroupBox(parent);
    created->setGeometry(left, top, width, height);
    return created;
}

QLineEdit* resolutionEdit(QWidget* parent, int left) {
    QLineEdit* edit = new QLineEdit("600", parent);
    edit->setGeometry(left, 24, 41, 21);
    return edit;
}

}  // namespace

TloadingForm::TloadingForm(QWidget* parent)
    : QMainWindow(parent, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint |
                              Qt::MSWindowsFixedSizeDialogHint),
      engine(std::make_unique<TtrellikGL>()),
      gameRunner(runGame),
      exeName(runningExecutable()),
      programReplaceable(canReplaceProgram(exeName)),
      settingsStore(TsettingsStore::defaultFilePath()) {
    updateThread.setTargetWindow(this, [this](int code) { onUpdateMessage(code); });
    updateThread.setExeName(exeName);
    setWindowTitle(QString("TrellikGL v3.8 build %1").arg(getBuildNumber(exeName)));
    QWidget* client = new QWidget(this);
    client->setFixedSize(clientWidth, clientHeight - statusHeight);
    setCentralWidget(client);
    buildControls(client);
    buildKeyButtons();
    buildMenus();

    mainFormStatus = new TstatusPanel(this);
    mainFormStatus->setObjectName("mainFormStatus");
    statusBar()->setSizeGripEnabled(false);
    statusBar()->setFixedHeight(statusHeight);
    statusBar()->addWidget(mainFormStatus, 1);
    layout()->setSizeConstraint(QLayout::SetFixedSize);

    applyCaptions();
    setStatus(statusIndex);
}

TloadingForm::~TloadingForm() = default;

void TloadingForm::buildControls(QWidget* client) {
    Label2 = new QLabel("Trellik", client);
    Label2->setGeometry(28, 8, 217, 72);
    QFont titleFont("Tahoma");
    titleFont.setPixelSize(60);
    Label2->setFont(titleFont);

    resolutionGroup = group(client, 8, 96, 265, 65);
    horizontalResolutionEdit = resolutionEdit(resolutionGroup, 16);
    Label1 = label(resolutionGroup, "x", 63, 27);
    verticalResolutionEdit = resolutionEdit(resolutionGroup, 75);
    fullscreenCheck = new QCheckBox(resolutionGroup);
    fullscreenCheck->setGeometry(135, 26, 114, 17);
    horizontalResolutionEdit->installEventFilter(this);
    verticalResolutionEdit->installEventFilter(this);

    controlsGroup = group(client, 8, 167, 265, 290);
    elecomCheck = new QCheckBox(controlsGroup);
    elecomCheck->setGeometry(72, 32, 129, 17);
    connect(elecomCheck, &QCheckBox::toggled, this, guardedHandler([this] { elecomCheckClick(); }));

    graphicsModeGroup = group(client, 8, 463, 177, 82);
    panmozRadio = new QRadioButton(" Panmoz", graphicsModeGroup);
    panmozRadio->setGeometry(16, 24, 65, 17);
    panmozRadio->setChecked(true);
    panmozRadio->setEnabled(false);
    ripplesRadio = new QRadioButton(" Ripples", graphicsModeGroup);
    ripplesRadio->setGeometry(16, 48, 65, 17);
    ripplesRadio->setEnabled(false);
    widenToCaption(panmozRadio, 65);
    widenToCaption(ripplesRadio, 65);
    lowLabel = label(graphicsModeGroup, "", 97, 23);
    highLabel = label(graphicsModeGroup, "", 135, 23);
    qualitySlider = new QSlider(Qt::Horizontal, graphicsModeGroup);
    qualitySlider->setGeometry(96, 42, 57, 31);
    qualitySlider->setRange(0, 1);
    qualitySlider->setValue(0);
    qualitySlider->setTickPosition(QSlider::TicksAbove);
    qualitySlider->setEnabled(false);

    startButton = new QPushButton(client);
    startButton->setGeometry(191, 468, 82, 78);
    connect(startButton, &QPushButton::clicked, this, guardedHandler([this] { startButtonClick(); }));
}

void TloadingForm::buildKeyButtons() {
    for (int i = 0; i < 16; ++i) {
        QPushButton* button = new QPushButton(controlsGroup);
        button->setObjectName(QString("Button%1").arg(i + 1));
        button->setGeometry(keyColumns[i % 4], keyRows[i / 4], keyWidths[i % 4], 41);
        connect(button, &QPushButton::clicked, this, guardedHandler([this, i] { getNewKey(i); }));
        keyButtons[i] = button;
    }
    // The start button comes first; then the controls from top to bottom.
    QWidget::setTabOrder(startButton, horizontalResolutionEdit);
    QWidget::setTabOrder(horizontalResolutionEdit, verticalResolutionEdit);
    QWidget::setTabOrder(verticalResolutionEdit, fullscreenCheck);
    QWidget::setTabOrder(fullscreenCheck, elecomCheck);
    QWidget::setTabOrder(elecomCheck, keyButtons[0]);
    for (int i = 1; i < 16; ++i) QWidget::setTabOrder(keyButtons[i - 1], keyButtons[i]);
}

void TloadingForm::buildMenus() {
    fileMenu = menuBar()->addMenu("");
    languagesMenu = fileMenu->addMenu("");
    englishMenu = languagesMenu->addAction("&English", this, guardedHandler([this] { setLanguage(0); }));
    japaneseMenu = languagesMenu->addAction("日本語 (&n)", this, guardedHandler([this] { setLanguage(1); }));
    exitMenu = fileMenu->addAction("", this, guardedHandler([this] { exitMenuClick(); }));

    extraMenu = menuBar()->addMenu("&Extra");
    extraSettingsMenu = extraMenu->addAction("E&xtra Settings", this, guardedHandler([this] { extraSettingsMenuClick(); }));
    songDebugOutputMenu = extraMenu->addAction("Song &Debug Output");
    songDebugOutputMenu->setCheckable(true);
    songDebugOutputMenu->setEnabled(false);

    helpMenu = menuBar()->addMenu("");
    doUpdateMenu = helpMenu->addAction("", this, guardedHandler([this] { doUpdateMenuClick(); }));
    doUpdateMenu->setEnabled(false);
    helpMenu->addSeparator();
    motdMenu = helpMenu->addAction("", this, guardedHandler([this] { motdMenuClick(); }));
    aboutMenu = helpMenu->addAction("");
    aboutMenu->setEnabled(false);
}

void TloadingForm::attachWindows(TmotdForm& motd, TextraSettingsForm& extraSettings, TcontrolSetWindow& controlSet) {
    motdForm = &motd;
    extraSettingsForm = &extraSettings;
    controlSetWindow = &controlSet;
    motdForm->setCentreWindow(this);
    extraSettingsForm->setCentreWindow(this);
    connect(extraSettingsForm->calibrateButton, &QPushButton::clicked, this,
            guardedHandler([this] { calibrateButtonClick(); }));
}

QString TloadingForm::caption(int pair) const {
    return QString::fromUtf8(captionTable[pair * 2 + languageId]);
}

void TloadingForm::applyCaptions() {
    languagesMenu->setTitle(caption(0));
    exitMenu->setText(caption(1));
    aboutMenu->setText(caption(3));
    resolutionGroup->setTitle(caption(4));
    fullscreenCheck->setText(caption(5));
    widenToCaption(fullscreenCheck, 114);
    controlsGroup->setTitle(caption(6));
    elecomCheck->setText(caption(7));
    widenToCaption(elecomCheck, 129);
    graphicsModeGroup->setTitle(caption(8));
    lowLabel->setText(caption(9));
    lowLabel->adjustSize();
    highLabel->setText(caption(10));
    highLabel->adjustSize();
    startButton->setText(caption(11));
    fileMenu->setTitle(caption(19));
    helpMenu->setTitle(caption(20));
    doUpdateMenu->setText(caption(21));
    motdMenu->setText(caption(22));
}

void TloadingForm::showEvent(QShowEvent* event) {
    QMainWindow::showEvent(event);
    if (shownOnce) return;
    shownOnce = true;
    if (const QScreen* screen = this->screen()) {
        const QRect area = screen->availableGeometry();
        move(area.center() - QPoint(frameGeometry().width() / 2, frameGeometry().height() / 2));
    }
    startButton->setFocus();
    runHandler([this] { formShow(); });
}

void TloadingForm::formShow() {
    updateThread.start(updateServerUrl());
    const std::string musicFailure = music.start();
    if (!musicFailure.empty()) messageBox(musicFailure, applicationTitle, TmessageKind::error);

    const bool keyExists = settingsStore.open();
    if (!settingsStore.setAsideReason().empty())
        messageBox(settingsStore.setAsideReason(), applicationTitle, TmessageKind::warning);
    if (keyExists) {
        loadSettings();
    } else {
        languageId = 0;
        setDefaultKeys();
        saveSettings();
        for (int i = 0; i < 16; ++i) refreshButton(i);
    }
    setLanguage(languageId);
}

TstoredSettings TloadingForm::settingsFromControls() const {
    TstoredSettings settings;
    settings.hres = horizontalResolutionEdit->text().toStdString();
    settings.vres = verticalResolutionEdit->text().toStdString();
    settings.fullscreen = fullscreenCheck->isChecked();
    settings.elecom = elecomCheck->isChecked();
    settings.languageId = languageId;
    settings.mode = panmozRadio->isChecked();
    settings.quality = qualitySlider->value();
    if (extraSettingsForm) {
        settings.scaleValue = extraSettingsForm->scaleSlider->value();
        settings.yAdjust = extraSettingsForm->yAdjustmentSlider->value();
        settings.rotation = extraSettingsForm->rotationCode();
        settings.audioOffset = extraSettingsForm->audioOffsetSpin->value();
        settings.visualOffset = extraSettingsForm->visualOffsetSpin->value();
        settings.assistMode = extraSettingsForm->assistCombo->currentIndex();
        settings.assistVolume = extraSettingsForm->assistVolumeSpin->value();
    }
    for (int i = 0; i < 16; ++i) settings.keys[i] = keyCodes[i];
    return settings;
}

void TloadingForm::applySettings(const TstoredSettings& settings) {
    horizontalResolutionEdit->setText(QString::fromStdString(settings.hres));
    verticalResolutionEdit->setText(QString::fromStdString(settings.vres));
    fullscreenCheck->setChecked(settings.fullscreen);
    elecomCheck->setChecked(settings.elecom);
    elecomCheckClick();
    languageId = settings.languageId;
    (settings.mode ? panmozRadio : ripplesRadio)->setChecked(true);
    qualitySlider->setValue(settings.quality);
    if (extraSettingsForm) {
        extraSettingsForm->scaleSlider->setValue(settings.scaleValue);
        extraSettingsForm->yAdjustmentSlider->setValue(settings.yAdjust);
        extraSettingsForm->setRotationCode(settings.rotation);
        extraSettingsForm->audioOffsetSpin->setValue(settings.audioOffset);
        extraSettingsForm->visualOffsetSpin->setValue(settings.visualOffset);
        extraSettingsForm->assistCombo->setCurrentIndex(settings.assistMode);
        extraSettingsForm->assistVolumeSpin->setValue(settings.assistVolume);
    }
    for (int i = 0; i < 16; ++i) {
        keyCodes[i] = settings.keys[i];
        refreshButton(i);
    }
}

void TloadingForm::loadSettings() {
    TstoredSettings settings = settingsFromControls();
    const bool complete = readStoredSettings(settingsStore, settings);
    applySettings(settings);
    if (extraSettingsForm) {
        const TrankingSettings ranking = readRankingSettings(settingsStore);
        extraSettingsForm->rankingUrlEdit->setText(QString::fromStdString(ranking.serverUrl));
        extraSettingsForm->rankingNameEdit->setText(QString::fromStdString(ranking.playerName));
    }
    // A failure after the fallback has written every value cannot be mended by reading
    // again; the values in hand stay.
    if (complete || readingAgain) return;
    setDefaultKeys();
    for (int i = 0; i < 16; ++i) refreshButton(i);
    saveSettings();
    readingAgain = true;
    loadSettings();
    readingAgain = false;
}

void TloadingForm::saveSettings() {
    writeStoredSettings(settingsStore, settingsFromControls());
    if (extraSettingsForm)
        writeRankingChoice(settingsStore, extraSettingsForm->rankingUrlEdit->text().toStdString(),
                           extraSettingsForm->rankingNameEdit->text().toStdString());
    try {
        settingsStore.save();
    } catch (const std::exception& error) {
        messageBox(std::string(error.what()) + "\nThe settings stay as they are until the launcher closes.",
                   applicationTitle, TmessageKind::warning);
    }
}

void TloadingForm::setDefaultKeys() {
    for (int i = 0; i < 16; ++i) keyCodes[i] = defaultKeyLayout[i];
}

// A long label ("Pad 1 B12") is set in a smaller font so it stays whole on the small button.
void TloadingForm::refreshButton(int index) {
    QPushButton* button = keyButtons[index];
    const QString label = QString::fromStdString(keyLabel(static_cast<uint16_t>(keyCodes[index])));
    QFont font = this->font();
    const int room = button->contentsRect().width() - 4;
    const int needed = QFontMetrics(font).horizontalAdvance(label);
    if (needed > room && room > 0) font.setPointSizeF(std::max(5.0, font.pointSizeF() * room / needed));
    button->setFont(font);
    button->setText(label);
}

void TloadingForm::setLanguage(int language) {
    languageId = language;
    applyCaptions();
    if (controlSetWindow) controlSetWindow->setStatusText(caption(12));
    if (extraSettingsForm) extraSettingsForm->setLanguage(language);
    mainFormStatus->setText(caption(statusIndex), statusColour);
}

void TloadingForm::setStatus(int message) {
    statusIndex = message;
    mainFormStatus->setText(caption(statusIndex), statusColour);
}

QString TloadingForm::statusText() const {
    return mainFormStatus->shownText();
}

void TloadingForm::getNewKey(int index) {
    controlSetWindow->colourSquares(index);
    controlSetWindow->setStatusText(caption(12));
    if (!controlSetWindow->captureKey()) return;
    if (controlSetWindow->capturedKey == escapeKey) return;
    keyCodes[index] = controlSetWindow->capturedKey;
    refreshButton(index);
}

void TloadingForm::elecomCheckClick() {
    for (QPushButton* button : keyButtons) button->setEnabled(!elecomCheck->isChecked());
}

bool TloadingForm::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::FocusOut) {
        if (watched == horizontalResolutionEdit) horizontalResolutionEditExit();
        if (watched == verticalResolutionEdit) verticalResolutionEditExit();
    }
    return QMainWindow::eventFilter(watched, event);
}

void TloadingForm::resolutionEditExit(QLineEdit* edit, const char* valueName) {
    if (integerFromText(edit->text().toStdString())) return;
    const std::string stored = settingsStore.readString(valueName).value_or("");
    edit->setText(integerFromText(stored) ? QString::fromStdString(stored) : QString::number(fallbackResolution));
}

void TloadingForm::horizontalResolutionEditExit() {
    resolutionEditExit(horizontalResolutionEdit, "hres");
}

void TloadingForm::verticalResolutionEditExit() {
    resolutionEditExit(verticalResolutionEdit, "vres");
}

double TloadingForm::getProgress() const {
    return updateThread.getProgress();
}

void TloadingForm::startButtonClick() {
    startGame(false);
}

void TloadingForm::calibrateButtonClick() {
    startGame(true);
}

void TloadingForm::startGame(bool calibrate) {
    if (updateChosen || updateThread.updateDownloading.load()) {
        messageBox("Update is at " + percentage(getProgress()) + "% please wait!", applicationTitle,
                   TmessageKind::information);
        return;
    }
    hide();
    if (extraSettingsForm) extraSettingsForm->close();
    saveSettings();
    LaunchParameters parameters = launchParametersFor(settingsFromControls(), songDebugOutputMenu->isChecked(),
                                                      exeName, settingsStore.filePath());
    parameters.calibrate = calibrate;
    // The game plays through the launcher's sound system and stream, so its menus stop this music.
    engine->audio.sounds = music.soundSystem();
    engine->audio.music = music.musicStream();
    try {
        // The game shows its own message boxes: a launcher box would run the launcher's event
        // loop, and with it what the update thread has queued, in the middle of play.
        const TmessageBoxBackendScope gameBoxes(nullptr);
        gameRunning = true;
        gameRunner(*engine, parameters);
        gameRunning = false;
    } catch (...) {
        gameRunning = false;
        reloadOffsets();
        // The launcher is hidden: after the error box the program ends instead of lingering unseen.
        QCoreApplication::exit(1);
        throw;
    }
    reloadOffsets();
    QCoreApplication::exit(0);
}

// The game keeps new offsets in the file itself; taking them back keeps a later save of the
// launcher (on closing, before an update) from putting the old ones back.
void TloadingForm::reloadOffsets() {
    if (!settingsStore.open()) return;
    TstoredSettings settings = settingsFromControls();
    readStoredOffsets(settingsStore, settings);
    applySettings(settings);
}

void TloadingForm::exitMenuClick() {
    close();
}

void TloadingForm::closeEvent(QCloseEvent* event) {
    runHandler([this] { saveSettings(); });
    event->accept();
}

void TloadingForm::extraSettingsMenuClick() {
    extraSettingsForm->exec();
}

void TloadingForm::motdMenuClick() {
    motdForm->motdMenuClick();
}

void TloadingForm::doUpdateMenuClick() {
    updateChosen = true;
    updateThread.giveGoAhead();
    doUpdateMenu->setEnabled(false);
}

void TloadingForm::onUpdateMessage(int code) {
    if (gameRunning) return;
    switch (static_cast<UpdateCode>(code)) {
        case UpdateCode::downloadFailed:
            updateChosen = false;
            statusColour = statusRed;
            setStatus(17);
            break;
        case UpdateCode::checkFailed:
            statusColour = statusRed;
            setStatus(16);
            break;
        case UpdateCode::downloadDone:
            replaceAndRestart();
            break;
        case UpdateCode::upToDate:
            statusColour = statusGreen;
            setStatus(14);
            doUpdateMenu->setEnabled(false);
            break;
        case UpdateCode::updateAvailable:
            // A program the player cannot replace is updated by whoever installed it.
            statusColour = statusRed;
            setStatus(programReplaceable ? 15 : 23);
            doUpdateMenu->setEnabled(programReplaceable);
            break;
        case UpdateCode::downloadProgress:
            statusColour = statusBlue;
            setStatus(18);
            mainFormStatus->setText(statusText() + QString::fromStdString(percentage(getProgress())) + "%", statusColour);
            break;
    }
}

void TloadingForm::replaceAndRestart() {
    saveSettings();
    const std::string failure = replaceAndStartProgram(exeName);
    if (!failure.empty()) {
        // The launcher still runs from memory, so the player keeps it rather than losing it.
        updateChosen = false;
        statusColour = statusRed;
        setStatus(17);
        messageBox(failure, applicationTitle, TmessageKind::error);
        return;
    }
    QCoreApplication::exit(0);
}

// The extra settings window and the drawing of its board preview.
#include "launcher/extraSettingsFormCode.h"

#include "launcher/boardPreview.h"
#include "launcher/launchSettings.h"
#include "platform/sound/audioEngine.h"

namespace {

constexpr int defaultScalePosition = 33;
constexpr int defaultYAdjustment = 4;
constexpr int offsetsTop = 191;
constexpr int rankingTop = 249;
// As the server takes names.
constexpr int longestPlayerName = 24;
constexpr int assistsTop = 281;
constexpr int defaultAssistVolume = 100;

// The captions that follow the launcher's language: pair n in language l is entry n * 2 + l.
const char* const offsetCaptions[] = {
    "Audio offset", "音声オフセット",
    "Visual offset", "表示オフセット",
    "Calibrate…", "キャリブレーション…",
    "Ranking server", "ランキングサーバー",
    "Player name", "プレイヤー名",
    "Assist sounds", "アシスト音",
    "Volume", "音量",
};

// The assist modes in stored order, in each language.
const char* const assistModeCaptions[] = {
    "Off", "オフ",
    "Assist tick", "アシストティック",
    "Hit sounds", "打鍵音",
    "Tick and hit sounds", "ティックと打鍵音",
};

QSlider* verticalSlider(QWidget* parent, int minimum, int maximum, int position) {
    QSlider* slider = new QSlider(Qt::Vertical, parent);
    slider->setRange(minimum, maximum);
    slider->setValue(position);
    slider->setPageStep(10);
    slider->setTickInterval(10);
    slider->setTickPosition(QSlider::TicksRight);
    // The minimum stands at the top.
    slider->setInvertedAppearance(true);
    slider->setInvertedControls(true);
    return slider;
}

QLabel* label(QWidget* parent, const char* caption, int left, int top) {
    QLabel* created = new QLabel(caption, parent);
    created->move(left, top);
    created->adjustSize();
    return created;
}

QSpinBox* offsetSpin(QWidget* parent, int left) {
    QSpinBox* spin = new QSpinBox(parent);
    spin->setRange(-largestOffset, largestOffset);
    spin->setValue(0);
    spin->setSuffix(" ms");
    spin->setGeometry(left, offsetsTop, 80, 23);
    return spin;
}

QImage pictureOf(const TboardPreview& preview) {
    QImage image(preview.width, preview.height, QImage::Format_ARGB32);
    image.fill(Qt::transparent);
    for (int32_t y = 0; y < preview.height; ++y)
        for (int32_t x = 0; x < preview.width; ++x)
            if (preview.inkAt(x, y)) image.setPixel(x, y, qRgba(0, 0, 0, 255));
    return image;
}

}  // namespace

void centreOn(QWidget& window, const QWidget* over) {
    if (!over) return;
    const QRect area = over->frameGeometry();
    window.move(area.center() - QPoint(window.width() / 2, window.height() / 2));
}

TextraSettingsForm::TextraSettingsForm(QWidget* parent)
    : QDialog(parent, Qt::Tool | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint) {
    setWindowTitle(" Extra Settings");
    setFixedSize(561, 312);

    boardPreviewImage = new QLabel(this);
    boardPreviewImage->setObjectName("boardPreviewImage");
    boardPreviewImage->setGeometry(8, 8, 323, 177);

    displayPositioningGroup = new QGroupBox(" Display Adjustment ", this);
    displayPositioningGroup->setGeometry(337, 8, 114, 145);
    scaleSlider = verticalSlider(displayPositioningGroup, 0, scaleSliderMaximum, defaultScalePosition);
    // Narrower than the 45 pixels of the layout: this style draws ticks across the whole width,
    // which would run through the two scale labels.
    scaleSlider->setGeometry(8, 14, 34, 129);
    Label1 = label(displayPositioningGroup, "x   1", 42, 23);
    Label2 = label(displayPositioningGroup, "x0.1", 42, 124);
    yAdjustmentSlider = verticalSlider(displayPositioningGroup, -30, 30, defaultYAdjustment);
    yAdjustmentSlider->setGeometry(70, 13, 35, 129);

    screenRotationGroup = new QGroupBox(" Screen Rotation ", this);
    screenRotationGroup->setGeometry(457, 8, 97, 145);
    rot0radio = addRotation(" 0°", 23);
    rot90radio = addRotation(" 90°", 55);
    rot180radio = addRotation(" 180°", 86);
    rot270radio = addRotation(" 270°", 117);
    rot0radio->setChecked(true);

    defaultsButton = new QPushButton("Defaults", this);
    defaultsButton->setGeometry(337, 158, 114, 27);
    closeButton = new QPushButton("Close", this);
    closeButton->setGeometry(457, 158, 97, 27);
    soundOutputLabel = new QLabel(this);
    soundOutputLabel->setObjectName("soundOutputLabel");
    soundOutputLabel->setGeometry(8, 223, 545, 17);
    showSoundOutput();
    buildOffsets();
    buildRanking();
    buildAssists();

    connect(scaleSlider, &QSlider::valueChanged, this, [this] { drawPreview(); });
    connect(yAdjustmentSlider, &QSlider::valueChanged, this, [this] { drawPreview(); });
    connect(defaultsButton, &QPushButton::clicked, this, [this] { defaultsButtonClick(); });
    connect(closeButton, &QPushButton::clicked, this, [this] { close(); });
    drawPreview();
}

QRadioButton* TextraSettingsForm::addRotation(const char* caption, int top) {
    QRadioButton* radio = new QRadioButton(QString::fromUtf8(caption), screenRotationGroup);
    radio->setGeometry(16, top, 50, 17);
    connect(radio, &QRadioButton::toggled, this, [this](bool checked) {
        if (checked) drawPreview();
    });
    return radio;
}

void TextraSettingsForm::buildOffsets() {
    audioOffsetLabel = label(this, "", 8, offsetsTop + 4);
    audioOffsetSpin = offsetSpin(this, 108);
    visualOffsetLabel = label(this, "", 196, offsetsTop + 4);
    visualOffsetSpin = offsetSpin(this, 296);
    calibrateButton = new QPushButton(this);
    calibrateButton->setGeometry(392, offsetsTop - 2, 162, 27);
    setLanguage(0);
}

void TextraSettingsForm::buildRanking() {
    rankingUrlLabel = label(this, "", 8, rankingTop + 4);
    rankingUrlEdit = new QLineEdit(this);
    rankingUrlEdit->setObjectName("rankingUrlEdit");
    rankingUrlEdit->setPlaceholderText("https://ranking.example.org (empty: off)");
    rankingUrlEdit->setGeometry(118, rankingTop, 250, 23);
    rankingNameLabel = label(this, "", 376, rankingTop + 4);
    rankingNameEdit = new QLineEdit(this);
    rankingNameEdit->setObjectName("rankingNameEdit");
    rankingNameEdit->setMaxLength(longestPlayerName);
    rankingNameEdit->setGeometry(454, rankingTop, 100, 23);
    setLanguage(0);
}

void TextraSettingsForm::buildAssists() {
    assistLabel = label(this, "", 8, assistsTop + 4);
    assistCombo = new QComboBox(this);
    assistCombo->setGeometry(108, assistsTop, 180, 23);
    for (int mode = 0; mode < 4; ++mode) assistCombo->addItem("");
    assistVolumeLabel = label(this, "", 296, assistsTop + 4);
    assistVolumeSpin = new QSpinBox(this);
    assistVolumeSpin->setRange(0, defaultAssistVolume);
    assistVolumeSpin->setValue(defaultAssistVolume);
    assistVolumeSpin->setSuffix(" %");
    assistVolumeSpin->setGeometry(392, assistsTop, 80, 23);
    setLanguage(0);
}

void TextraSettingsForm::setLanguage(int language) {
    const int column = language == 1 ? 1 : 0;
    const auto caption = [column](int pair) { return QString::fromUtf8(offsetCaptions[pair * 2 + column]); };
    audioOffsetLabel->setText(caption(0));
    audioOffsetLabel->adjustSize();
    visualOffsetLabel->setText(caption(1));
    visualOffsetLabel->adjustSize();
    calibrateButton->setText(caption(2));
    if (rankingUrlLabel) {
        rankingUrlLabel->setText(caption(3));
        rankingUrlLabel->adjustSize();
        rankingNameLabel->setText(caption(4));
        rankingNameLabel->adjustSize();
    }
    if (!assistCombo) return;
    assistLabel->setText(caption(5));
    assistLabel->adjustSize();
    assistVolumeLabel->setText(caption(6));
    assistVolumeLabel->adjustSize();
    for (int mode = 0; mode < 4; ++mode)
        assistCombo->setItemText(mode, QString::fromUtf8(assistModeCaptions[mode * 2 + column]));
}

double TextraSettingsForm::getScaleMod() const {
    return scaleFactorFor(scaleSlider->value());
}

int TextraSettingsForm::rotationCode() const {
    if (rot90radio->isChecked()) return 1;
    if (rot180radio->isChecked()) return 2;
    if (rot270radio->isChecked()) return 3;
    return 0;
}

void TextraSettingsForm::setRotationCode(int code) {
    QRadioButton* const radios[] = {rot0radio, rot90radio, rot180radio, rot270radio};
    if (code >= 0 && code <= 3) radios[code]->setChecked(true);
}

int TextraSettingsForm::rotationInDegrees() const {
    return rotationDegrees(rotationCode());
}

void TextraSettingsForm::drawPreview() {
    const QSize size = boardPreviewImage->size();
    preview = pictureOf(drawBoardPreview(size.width(), size.height(), scaleSlider->value(), scaleSlider->maximum(),
                                         yAdjustmentSlider->value(), rotationInDegrees()));
    boardPreviewImage->setPixmap(QPixmap::fromImage(preview));
}

void TextraSettingsForm::defaultsButtonClick() {
    rot0radio->setChecked(true);
    scaleSlider->setValue(defaultScalePosition);
    yAdjustmentSlider->setValue(defaultYAdjustment);
    audioOffsetSpin->setValue(0);
    visualOffsetSpin->setValue(0);
    assistCombo->setCurrentIndex(0);
    assistVolumeSpin->setValue(defaultAssistVolume);
}

void TextraSettingsForm::showSoundOutput() {
    soundOutputLabel->setText(QString::fromStdString(programOutputReport().line));
}

// The latency is read again each time: the server may have changed it since.
void TextraSettingsForm::showEvent(QShowEvent* event) {
    centreOn(*this, centreWindow);
    showSoundOutput();
    drawPreview();
    QDialog::showEvent(event);
}

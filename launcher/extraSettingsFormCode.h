// The extra settings window: screen rotation, scale and vertical adjustment with a board
// preview, the player's audio and visual offsets and the way into their calibration, and the
// ranking server with the player's name on it, and the play assists (a tick on every marker's
// beat, hit sounds) with their volume.
#pragma once

#include <QDialog>
#include <QComboBox>
#include <QGroupBox>
#include <QImage>
#include <QLineEdit>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QSlider>
#include <QSpinBox>

class TextraSettingsForm : public QDialog {
public:
    explicit TextraSettingsForm(QWidget* parent = nullptr);

    // The window it opens centred on.
    void setCentreWindow(QWidget* window) { centreWindow = window; }

    // The scale factor the game receives for the scale slider's position.
    double getScaleMod() const;
    // 0, 1, 2 or 3 for the checked rotation 0, 90, 180 or 270 degrees.
    int rotationCode() const;
    void setRotationCode(int code);
    // The checked rotation in degrees.
    int rotationInDegrees() const;

    void drawPreview();
    void defaultsButtonClick();
    // Shows the captions of language 0 (English) or 1 (Japanese).
    void setLanguage(int language);
    // What the sound plays on and how late, as the game's console says it.
    void showSoundOutput();
    const QImage& previewPicture() const { return preview; }

    QLabel* boardPreviewImage = nullptr;
    QGroupBox* displayPositioningGroup = nullptr;
    QSlider* scaleSlider = nullptr;
    QLabel* Label1 = nullptr;
    QLabel* Label2 = nullptr;
    QSlider* yAdjustmentSlider = nullptr;
    QGroupBox* screenRotationGroup = nullptr;
    QRadioButton* rot0radio = nullptr;
    QRadioButton* rot90radio = nullptr;
    QRadioButton* rot180radio = nullptr;
    QRadioButton* rot270radio = nullptr;
    QPushButton* defaultsButton = nullptr;
    QPushButton* closeButton = nullptr;
    QLabel* soundOutputLabel = nullptr;
    QLabel* audioOffsetLabel = nullptr;
    QSpinBox* audioOffsetSpin = nullptr;
    QLabel* visualOffsetLabel = nullptr;
    QSpinBox* visualOffsetSpin = nullptr;
    // The launcher starts the calibration run from it, as it starts a game from its own button.
    QPushButton* calibrateButton = nullptr;
    // The ranking server's address (empty keeps ranking off) and the name to rank under.
    QLabel* rankingUrlLabel = nullptr;
    QLineEdit* rankingUrlEdit = nullptr;
    QLabel* rankingNameLabel = nullptr;
    QLineEdit* rankingNameEdit = nullptr;
    QLabel* assistLabel = nullptr;
    // Off, assist tick, hit sounds, both: the index is the stored mode.
    QComboBox* assistCombo = nullptr;
    QLabel* assistVolumeLabel = nullptr;
    QSpinBox* assistVolumeSpin = nullptr;

protected:
    void showEvent(QShowEvent* event) override;

private:
    QRadioButton* addRotation(const char* caption, int top);
    void buildOffsets();
    void buildRanking();
    void buildAssists();
    QImage preview;
    QWidget* centreWindow = nullptr;
};

// Moves window so that it is centred on over (when there is one).
void centreOn(QWidget& window, const QWidget* over);

// The key-capture window: shows which panel is being assigned and takes the next key pressed.
#pragma once

#include <QDialog>
#include <QLabel>
#include <QTimer>

#include "platform/input/gamePads.h"

class TcontrolSetWindow : public QDialog {
public:
    explicit TcontrolSetWindow(QWidget* parent = nullptr);

    // Square panel red, the other fifteen green.
    void colourSquares(int panel);
    // The status line's text, its letters drawn closer when the system font is too wide for it.
    void setStatusText(const QString& text);
    // Shows the window modally until a key or a pad button is pressed; true when one was
    // (capturedKey holds it).
    bool captureKey();

    QWidget* panelShapes[16] = {};
    QLabel* controlsStatus = nullptr;
    // The virtual-key or pad key code of the last key pressed in the window; kept between showings.
    int capturedKey = 0;

protected:
    bool event(QEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    // Reads the pads' events; the first button pressed is the key.
    void pollPads();

    // Open only while the window is shown, so no pad events pile up in between.
    TgamePads pads;
    QTimer padPoll;
};

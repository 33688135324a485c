// The key-capture window: sixteen squares and a status line; the first key closes it.
#include "launcher/controlsFormCode.h"

#include <algorithm>

#include <SDL.h>

#include <QFontMetrics>
#include <QKeyEvent>

#include "launcher/qtVirtualKeys.h"

namespace {

constexpr int clientWidth = 197;
constexpr int clientHeight = 216;
constexpr int statusHeight = 19;
// Often enough that a press shows no lag to the player; SDL keeps the events in between.
constexpr int padPollMs = 10;

void fill(QWidget* shape, const QColor& colour) {
    QPalette palette = shape->palette();
    palette.setColor(QPalette::Window, colour);
    shape->setPalette(palette);
}

}  // namespace

TcontrolSetWindow::TcontrolSetWindow(QWidget* parent)
    : QDialog(parent, Qt::Tool | Qt::CustomizeWindowHint | Qt::WindowTitleHint) {
    setWindowTitle("Controls");
    setFixedSize(clientWidth, clientHeight);
    for (int i = 0; i < 16; ++i) {
        QWidget* shape = new QWidget(this);
        shape->setObjectName(QString("Shape%1").arg(i + 1));
        shape->setGeometry(8 + 47 * (i % 4), 8 + 47 * (i / 4), 41, 41);
        shape->setAutoFillBackground(true);
        panelShapes[i] = shape;
    }
    controlsStatus = new QLabel(this);
    controlsStatus->setObjectName("controlsStatus");
    controlsStatus->setGeometry(0, clientHeight - statusHeight, clientWidth, statusHeight);
    controlsStatus->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    controlsStatus->setIndent(2);
    colourSquares(-1);
    move(0, 0);
    padPoll.setInterval(padPollMs);
    connect(&padPoll, &QTimer::timeout, this, [this] { pollPads(); });
}

void TcontrolSetWindow::colourSquares(int panel) {
    for (int i = 0; i < 16; ++i) fill(panelShapes[i], i == panel ? QColor(255, 0, 0) : QColor(0, 128, 0));
}

void TcontrolSetWindow::setStatusText(const QString& text) {
    QFont font = this->font();
    const int room = controlsStatus->contentsRect().width() - controlsStatus->indent() - 2;
    const int needed = QFontMetrics(font).horizontalAdvance(text);
    if (needed > room) font.setLetterSpacing(QFont::PercentageSpacing, std::max(80.0, 100.0 * room / needed));
    controlsStatus->setFont(font);
    controlsStatus->setText(text);
}

bool TcontrolSetWindow::captureKey() {
    move(0, 0);
    // Buttons pressed together with the one taken last time are still queued: no answer now.
    SDL_FlushEvents(SDL_JOYAXISMOTION, SDL_JOYBATTERYUPDATED);
    if (pads.open()) padPoll.start();
    const bool captured = exec() == QDialog::Accepted;
    padPoll.stop();
    pads.close();
    return captured;
}

bool TcontrolSetWindow::event(QEvent* event) {
    // Tab and Backtab would move the focus before reaching keyPressEvent; they are keys to assign.
    if (event->type() == QEvent::KeyPress) {
        keyPressEvent(static_cast<QKeyEvent*>(event));
        return true;
    }
    return QDialog::event(event);
}

void TcontrolSetWindow::keyPressEvent(QKeyEvent* event) {
    const int key = virtualKeyFromQt(event->key(), event->modifiers());
    // A key without a virtual-key number cannot be stored; the window waits for another.
    if (key == noVirtualKey) return;
    capturedKey = key;
    accept();
}

void TcontrolSetWindow::pollPads() {
    SDL_JoystickUpdate();
    SDL_Event event;
    while (SDL_PeepEvents(&event, 1, SDL_GETEVENT, SDL_JOYAXISMOTION, SDL_JOYBATTERYUPDATED) == 1) {
        TpadKeyEvent pad;
        if (!pads.keyFromEvent(event, pad) || !pad.down) continue;
        capturedKey = pad.key;
        accept();
        return;
    }
}

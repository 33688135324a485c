// The message-of-the-day window and the fetch of its text.
#include "launcher/motdFormCode.h"

#include <cstdio>
#include <exception>
#include <stdexcept>
#include <fstream>
#include <sstream>

#include "launcher/extraSettingsFormCode.h"
#include "launcher/launcherApplication.h"
#include "platform/net/downloadFileCode.h"
#include "platform/window/messageBox.h"
#include "platform/store/pathResolver.h"

namespace {

// Tells the player that an error just shown concerned the message of the day.
const char* const initialText =
    "If you can see this then that HTTP error you got just now was \n"
    "talking about how it \n"
    "wasn't able to download the message of the day... Check \n"
    "you're connected to the \n"
    "internet!\n"
    "\n"
    "I'm afraid that this is all I have for you...";

std::string readBytes(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    std::ostringstream contents;
    contents << file.rdbuf();
    return contents.str();
}

// Removes the message file in whatever letter case it was left, as the download would reuse it.
void removeMessageFile() {
    while (pathExists(motdFileName) && std::remove(resolvePath(motdFileName).c_str()) == 0) {
    }
}

}  // namespace

TmotdForm::TmotdForm(QWidget* parent)
    : QDialog(parent, Qt::Tool | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint),
      fetchFile([](const std::string& url, const std::string& path, bool announce) {
          return downloadFile(url, path, announce, textFileSizeCeiling);
      }) {
    setWindowTitle(" Message of the Day");
    resize(465, 257);

    motdMemo = new QPlainTextEdit(this);
    motdMemo->setObjectName("motdMemo");
    motdMemo->setReadOnly(true);
    motdMemo->setFrameStyle(QFrame::NoFrame);
    motdMemo->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    motdMemo->setLineWrapMode(QPlainTextEdit::NoWrap);
    QPalette palette = motdMemo->palette();
    palette.setColor(QPalette::Base, palette.color(QPalette::Window));
    motdMemo->setPalette(palette);
    QFont font("Courier New");
    font.setStyleHint(QFont::Monospace);
    font.setPointSize(8);
    motdMemo->setFont(font);
    motdMemo->setPlainText(initialText);

    closeButton = new QPushButton("Close", this);
    connect(closeButton, &QPushButton::clicked, this, [this] { close(); });
}

void TmotdForm::resizeEvent(QResizeEvent* event) {
    // The memo follows the window's width; the button keeps to the right edge.
    motdMemo->setGeometry(8, 8, width() - 16, 209);
    closeButton->setGeometry(width() - 83, 224, 75, 25);
    QDialog::resizeEvent(event);
}

void TmotdForm::showEvent(QShowEvent* event) {
    centreOn(*this, centreWindow);
    QDialog::showEvent(event);
}

void TmotdForm::fetchMessage() {
    removeMessageFile();
    try {
        if (!fetchFile(updateServerUrl() + motdFileName, motdFileName, false))
            throw std::runtime_error("The message of the day could not be downloaded.");
        const QString message = messageFromBytes(readBytes(resolvePath(motdFileName)));
        motdMemo->clear();
        motdMemo->setPlainText(asMemoLines(message));
    } catch (const std::exception& error) {
        messageBox(error.what(), applicationTitle, TmessageKind::error);
    }
    removeMessageFile();
}

void TmotdForm::motdMenuClick() {
    fetchMessage();
    exec();
}

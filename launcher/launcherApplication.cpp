// The launcher application and its Qt message boxes.
#include "launcher/launcherApplication.h"

#include <exception>

#include <QMessageBox>

TlauncherApplication::TlauncherApplication(int& argc, char** argv) : QApplication(argc, argv) {
    // Every launcher window is laid out for Tahoma 8 pt; fontconfig supplies the nearest face,
    // and Qt falls back to IPA Gothic for the Japanese captions.
    QFont font("Tahoma");
    font.setPointSize(8);
    setFont(font);
}

bool TlauncherApplication::notify(QObject* receiver, QEvent* event) {
    // The last resort for a handler that is not guarded itself.
    bool handled = true;
    runHandler([&] { handled = QApplication::notify(receiver, event); });
    return handled;
}

void runHandler(const std::function<void()>& handler) {
    try {
        handler();
    } catch (const std::exception& error) {
        messageBox(error.what(), applicationTitle, TmessageKind::error);
    } catch (...) {
        messageBox("An unknown error ended the action.", applicationTitle, TmessageKind::error);
    }
}

std::function<void()> guardedHandler(std::function<void()> handler) {
    return [handler = std::move(handler)] { runHandler(handler); };
}

TmessageResult qtMessageBox(const std::string& text, const std::string& caption, TmessageKind kind) {
    if (isHeadless()) return headlessMessageBox(text, caption, kind);
    const QString qtText = QString::fromStdString(text);
    const QString qtCaption = QString::fromStdString(caption);
    switch (kind) {
        case TmessageKind::information:
            QMessageBox::information(nullptr, qtCaption, qtText);
            return TmessageResult::ok;
        case TmessageKind::warning:
            QMessageBox::warning(nullptr, qtCaption, qtText);
            return TmessageResult::ok;
        case TmessageKind::error:
            QMessageBox::critical(nullptr, qtCaption, qtText);
            return TmessageResult::ok;
        case TmessageKind::questionYesNo:
            return QMessageBox::question(nullptr, qtCaption, qtText) == QMessageBox::Yes ? TmessageResult::yes
                                                                                          : TmessageResult::no;
    }
    return TmessageResult::ok;
}

// The launcher's Qt application: errors that escape an event handler become an error box.
#pragma once

#include <string>

#include <QApplication>

#include "platform/messageBox.h"

// The caption of the launcher's own message boxes.
inline constexpr const char* applicationTitle = "TrellikGL38";

class TlauncherApplication : public QApplication {
public:
    TlauncherApplication(int& argc, char** argv);
    // Delivers the event; an error the handler did not deal with ends that handler and is
    // shown with its text, and the launcher goes on.
    bool notify(QObject* receiver, QEvent* event) override;
};

// The message box backend of the launcher: Qt message boxes, or a line on standard error
// when running headless.
TmessageResult qtMessageBox(const std::string& text, const std::string& caption, TmessageKind kind);

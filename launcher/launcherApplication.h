// The launcher's Qt application: errors that escape an event handler become an error box.
#pragma once

#include <functional>
#include <string>

#include <QApplication>

#include "platform/window/messageBox.h"

// The caption of the launcher's own message boxes.
inline constexpr const char* applicationTitle = "TrellikGL38";

class TlauncherApplication : public QApplication {
public:
    TlauncherApplication(int& argc, char** argv);
    // Delivers the event; an error the handler did not deal with ends that handler and is
    // shown with its text, and the launcher goes on.
    bool notify(QObject* receiver, QEvent* event) override;
};

// Runs one event handler; an error it raises ends it and is shown with its text in the error box.
void runHandler(const std::function<void()>& handler);

// A slot that runs handler through runHandler. Errors must be caught before they reach Qt's own
// frames, which are built without unwinding cleanup: an exception passing through them leaks
// what they hold and can leave their state half-done.
std::function<void()> guardedHandler(std::function<void()> handler);

// The message box backend of the launcher: Qt message boxes, or a line on standard error
// when running headless.
TmessageResult qtMessageBox(const std::string& text, const std::string& caption, TmessageKind kind);

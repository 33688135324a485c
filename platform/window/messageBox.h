// The one way the program shows a modal message: SDL in the game, Qt in the launcher,
// or a line on standard error when TRELLIK_HEADLESS=1.
#pragma once

#include <string>

enum class TmessageKind { information, warning, error, questionYesNo };
enum class TmessageResult { ok, yes, no };

// A backend shows the message and returns the button the player chose.
using TmessageBoxBackend = TmessageResult (*)(const std::string& text, const std::string& caption,
                                              TmessageKind kind);

TmessageResult messageBox(const std::string& text, const std::string& caption, TmessageKind kind);

// Installs a backend (the launcher's Qt boxes, or a recorder in tests); nullptr restores the default.
void setMessageBoxBackend(TmessageBoxBackend backend);

// Puts a backend in force while it lives and the earlier one back after it.
class TmessageBoxBackendScope {
public:
    explicit TmessageBoxBackendScope(TmessageBoxBackend backend);
    ~TmessageBoxBackendScope();
    TmessageBoxBackendScope(const TmessageBoxBackendScope&) = delete;
    TmessageBoxBackendScope& operator=(const TmessageBoxBackendScope&) = delete;

private:
    TmessageBoxBackend earlier;
};

// The default backends, for tests and for backends that want to fall back to them.
TmessageResult sdlMessageBox(const std::string& text, const std::string& caption, TmessageKind kind);
TmessageResult headlessMessageBox(const std::string& text, const std::string& caption, TmessageKind kind);

bool isHeadless();

// Message boxes through SDL, or on standard error when running headless.
#include "platform/window/messageBox.h"

#include <SDL.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

std::atomic<TmessageBoxBackend> installedBackend{nullptr};

const char* kindName(TmessageKind kind) {
    switch (kind) {
        case TmessageKind::information: return "information";
        case TmessageKind::warning: return "warning";
        case TmessageKind::error: return "error";
        case TmessageKind::questionYesNo: return "question";
    }
    return "message";
}

Uint32 sdlFlags(TmessageKind kind) {
    switch (kind) {
        case TmessageKind::error: return SDL_MESSAGEBOX_ERROR;
        case TmessageKind::warning:
        case TmessageKind::questionYesNo: return SDL_MESSAGEBOX_WARNING;
        case TmessageKind::information: return SDL_MESSAGEBOX_INFORMATION;
    }
    return SDL_MESSAGEBOX_INFORMATION;
}

}  // namespace

bool isHeadless() {
    const char* value = std::getenv("TRELLIK_HEADLESS");
    return value && std::strcmp(value, "1") == 0;
}

TmessageResult headlessMessageBox(const std::string& text, const std::string& caption, TmessageKind kind) {
    std::fprintf(stderr, "[%s] %s: %s\n", kindName(kind), caption.c_str(), text.c_str());
    std::fflush(stderr);
    // Unattended runs take the answer that keeps the program going.
    return kind == TmessageKind::questionYesNo ? TmessageResult::yes : TmessageResult::ok;
}

TmessageResult sdlMessageBox(const std::string& text, const std::string& caption, TmessageKind kind) {
    if (kind != TmessageKind::questionYesNo) {
        if (SDL_ShowSimpleMessageBox(sdlFlags(kind), caption.c_str(), text.c_str(), nullptr) != 0)
            return headlessMessageBox(text, caption, kind);
        return TmessageResult::ok;
    }
    const SDL_MessageBoxButtonData buttons[] = {
        {SDL_MESSAGEBOX_BUTTON_RETURNKEY_DEFAULT, 1, "Yes"},
        {SDL_MESSAGEBOX_BUTTON_ESCAPEKEY_DEFAULT, 0, "No"},
    };
    const SDL_MessageBoxData data = {sdlFlags(kind), nullptr, caption.c_str(), text.c_str(), 2, buttons, nullptr};
    int chosen = 0;
    if (SDL_ShowMessageBox(&data, &chosen) != 0) return headlessMessageBox(text, caption, kind);
    return chosen == 1 ? TmessageResult::yes : TmessageResult::no;
}

void setMessageBoxBackend(TmessageBoxBackend backend) {
    installedBackend.store(backend);
}

TmessageBoxBackendScope::TmessageBoxBackendScope(TmessageBoxBackend backend)
    : earlier(installedBackend.exchange(backend)) {}

TmessageBoxBackendScope::~TmessageBoxBackendScope() {
    installedBackend.store(earlier);
}

TmessageResult messageBox(const std::string& text, const std::string& caption, TmessageKind kind) {
    if (const TmessageBoxBackend backend = installedBackend.load()) return backend(text, caption, kind);
    if (isHeadless()) return headlessMessageBox(text, caption, kind);
    return sdlMessageBox(text, caption, kind);
}

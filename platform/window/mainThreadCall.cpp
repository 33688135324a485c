// Main-thread calls carried as SDL user events.
#include "platform/window/mainThreadCall.h"

#include <SDL.h>

#include <atomic>

namespace {

std::atomic<Uint32> callEventType{0};

}  // namespace

void registerMainThreadCalls() {
    if (callEventType.load() != 0) return;
    const Uint32 type = SDL_RegisterEvents(1);
    if (type != static_cast<Uint32>(-1)) callEventType.store(type);
}

bool postMainThreadCall(TmainThreadFunction function, void* context) {
    const Uint32 type = callEventType.load();
    if (type == 0) return false;
    SDL_Event event{};
    event.type = type;
    event.user.data1 = reinterpret_cast<void*>(function);
    event.user.data2 = context;
    return SDL_PushEvent(&event) == 1;
}

bool runMainThreadCall(const void* sdlEvent) {
    const SDL_Event& event = *static_cast<const SDL_Event*>(sdlEvent);
    const Uint32 type = callEventType.load();
    if (type == 0 || event.type != type) return false;
    const auto function = reinterpret_cast<TmainThreadFunction>(event.user.data1);
    if (function) function(event.user.data2);
    return true;
}

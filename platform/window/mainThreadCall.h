// Hands a call from any thread to the main thread's message loop, as one message of its queue.
#pragma once

using TmainThreadFunction = void (*)(void* context);

// Queues function(context) to run on the main thread between messages and frames.
// Returns false when the queue refused it (SDL not initialised, or the queue full).
bool postMainThreadCall(TmainThreadFunction function, void* context);

// Called by the loop for every event it takes; runs the call if the event is one. Returns
// true when it was a main-thread call. The argument is an SDL_Event, kept opaque here.
bool runMainThreadCall(const void* sdlEvent);

// Registers the event type; call once on the main thread after SDL_Init.
void registerMainThreadCalls();

// Quads, frames and numbers in the fixed perspective view.
#include "platform/glCustomCommandsCode.h"

#include <GL/gl.h>

void resetColours(TglCustomCommands& commands) {
    commands = TglCustomCommands{};
}

void clearScreen(const TglCustomCommands&) {
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
}

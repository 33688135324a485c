// Reading back what a GL test drew: where a view point lands in the window, and the pixel there.
#include "tests/support/pixelProbe.h"

#include <GL/gl.h>
#include <GL/glu.h>

#include <cmath>

std::array<int, 2> windowPointOfView(double x, double y, double z) {
    GLdouble projection[16];
    GLint viewport[4];
    const GLdouble identity[16] = {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1};
    glGetDoublev(GL_PROJECTION_MATRIX, projection);
    glGetIntegerv(GL_VIEWPORT, viewport);
    GLdouble windowX = 0, windowY = 0, windowZ = 0;
    gluProject(x, y, z, identity, projection, viewport, &windowX, &windowY, &windowZ);
    return {static_cast<int>(std::floor(windowX)), static_cast<int>(std::floor(windowY))};
}

Tpixel readPixel(const std::array<int, 2>& point) {
    unsigned char rgba[4] = {};
    glReadPixels(point[0], point[1], 1, 1, GL_RGBA, GL_UNSIGNED_BYTE, rgba);
    return {rgba[0], rgba[1], rgba[2]};
}

Tpixel pixelAtView(double x, double y, double z) {
    return readPixel(windowPointOfView(x, y, z));
}

std::string pixelText(const Tpixel& pixel) {
    // Appended piece by piece: GCC 12 at -O3 takes "(" + a temporary string for an overlapping
    // copy and warns.
    std::string written = "(";
    written.append(std::to_string(pixel[0])).append(", ");
    written.append(std::to_string(pixel[1])).append(", ");
    written.append(std::to_string(pixel[2])).append(")");
    return written;
}

// The console drawn in the stock font, in a real frame under Xvfb: glyphs land inked where
// their text is and leave gaps where it has blanks. With TRELLIK_SCREENSHOT_DIR set, the frame
// is also saved there as console.ppm for looking at.
#include <gtest/gtest.h>

#include <GL/gl.h>
#include <GL/glu.h>

#include <cmath>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "platform/window/globalConsoleCode.h"
#include "platform/window/openGLClass.h"
#include "tests/support/pixelProbe.h"
#include "tests/support/testSupport.h"

namespace {

// The brightness (0..255, green channel) of the frame where console point (x, y) lands.
int brightnessAtConsole(double x, double y) {
    return pixelAtView(-40 + 1.25 * x, 8 + 1.25 * y, -100)[1];
}

void saveFrame(const std::string& path, int width, int height) {
    std::vector<unsigned char> pixels(static_cast<size_t>(width) * height * 3);
    glPixelStorei(GL_PACK_ALIGNMENT, 1);
    glReadPixels(0, 0, width, height, GL_RGB, GL_UNSIGNED_BYTE, pixels.data());
    std::ofstream file(path, std::ios::binary);
    file << "P6 " << width << " " << height << " 255\n";
    for (int row = height - 1; row >= 0; --row) {
        file.write(reinterpret_cast<const char*>(pixels.data()) + static_cast<ptrdiff_t>(row) * width * 3, width * 3);
    }
}

}  // namespace

TEST(StockpackConsole, TextInTheStockFontIsInkedWhereItsLettersAre) {
    TtemporaryFolder folder;
    TworkingDirectory inFolder(folder.path());
    writeFile(folder.file("font.fnt"), readFile(std::string(TRELLIK_BINARY_DIR) + "/stockpack/server/font.fnt"));
    TopenGLEngine window;
    window.setup(600, 600, false, "stock font", "font.fnt");
    window.onDraw = [&window] {
        TglConsole& console = window.console;
        writeLine(console, "Begin load of TrellikGL v3.8.62");
        writeLine(console, "");
        writeLine(console, "Loading Logo...DONE!");
        writeLine(console, "| drift                                        |  BSC ADV EXT  |");
        writeLine(console, "HHHH    HHHH");
        writeLine(console, "Ünïcödé: àéîõü ß ñ ç ¿¡ £ ¥ © ° ± µ × ÷");
        drawFrame(console, true, nullptr);
        // Line 4: a solid "H" has ink down its left stem; the blanks beside it have none.
        const double stem = 0.25;
        const double middle = -1.75 * 4 - 0.8;
        EXPECT_GT(brightnessAtConsole(0 * 0.9 + stem, middle), 60) << "H at column 0";
        EXPECT_GT(brightnessAtConsole(3 * 0.9 + stem, middle), 60) << "H at column 3";
        EXPECT_LT(brightnessAtConsole(5 * 0.9 + 0.45, middle), 10) << "blank at column 5";
        EXPECT_GT(brightnessAtConsole(8 * 0.9 + stem, middle), 60) << "H at column 8";
        // Line 3 starts with "|", drawn through the middle of its cell.
        EXPECT_GT(brightnessAtConsole(0.45, -1.75 * 3 - 0.8), 60) << "bar of the table row";
        if (const char* folderForShots = std::getenv("TRELLIK_SCREENSHOT_DIR")) {
            saveFrame(std::string(folderForShots) + "/console.ppm", 600, 600);
        }
        return false;
    };
    window.run();
}

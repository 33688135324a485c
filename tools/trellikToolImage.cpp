// trellik-tool image: decodes an image file exactly as the game does and reports the result.
#include <fstream>
#include <iostream>

#include "content/textureControlCode.h"
#include "tools/trellikToolCommands.h"

namespace {

const char* const imageUsage =
    "usage: trellik-tool image FILE [--out OUT.pam]\n"
    "Decodes FILE as the game does (the reader is chosen by the extension: .bmp, .jpg, .tga)\n"
    "and prints its size and pixel layout, or the message the game would show for it.\n"
    "--out writes the decoded pixels, top row first, as a PAM file.\n";

const char* readerName(TimageReader reader) {
    switch (reader) {
        case TimageReader::bmp:
            return "BMP";
        case TimageReader::jpg:
            return "JPEG";
        case TimageReader::tga:
            return "TGA";
        case TimageReader::none:
            break;
    }
    return "none";
}

// Netpbm's PAM: a text header, then the rows from the top of the picture down.
bool writePam(const TpixelBuffer& image, const std::string& path) {
    std::ofstream out(path, std::ios::binary);
    const bool alpha = image.layout == TpixelLayout::rgba;
    out << "P7\nWIDTH " << image.width << "\nHEIGHT " << image.height << "\nDEPTH " << (alpha ? 4 : 3)
        << "\nMAXVAL 255\nTUPLTYPE " << (alpha ? "RGB_ALPHA" : "RGB") << "\nENDHDR\n";
    const size_t rowBytes = size_t{image.width} * bytesPerPixel(image.layout);
    for (uint32_t y = image.height; y-- > 0;)
        out.write(reinterpret_cast<const char*>(image.pixels.data() + y * rowBytes),
                  static_cast<std::streamsize>(rowBytes));
    return static_cast<bool>(out);
}

struct TimageArguments {
    std::string file;
    std::string out;
};

// Fills parsed; returns the complaint, empty when the arguments are good.
std::string parseImageArguments(const TtoolArguments& arguments, TimageArguments& parsed) {
    for (size_t i = 0; i < arguments.size(); ++i) {
        if (arguments[i] == "--out") {
            if (++i == arguments.size()) return "--out needs a file name";
            parsed.out = arguments[i];
        } else if (parsed.file.empty()) {
            parsed.file = arguments[i];
        } else {
            return std::string("unexpected argument \"") + arguments[i] + "\"";
        }
    }
    return parsed.file.empty() ? "no image file given" : "";
}

}  // namespace

int runImageCommand(const TtoolArguments& arguments) {
    if (asksForHelp(arguments)) return printHelp(imageUsage);
    TimageArguments parsed;
    const std::string complaint = parseImageArguments(arguments, parsed);
    if (!complaint.empty()) return usageError(complaint, imageUsage);

    const TimageReader reader = readerForPath(parsed.file);
    std::cout << "file: " << parsed.file << "\nreader: " << readerName(reader) << "\n";
    if (reader == TimageReader::none) {
        std::cout << "message: none (the game loads nothing from a file with this extension)\n";
        return exitRefused;
    }
    const TimageFileRead read = readImageFile(reader, parsed.file);
    if (!read.decoded) {
        std::cout << "message: " << read.message << "\ncaption: " << read.caption << "\n";
        return exitRefused;
    }
    std::cout << "size: " << read.image.width << " x " << read.image.height << "\n"
              << "layout: " << (read.image.layout == TpixelLayout::rgba ? "RGBA" : "RGB") << "\n"
              << "message: none\n";
    if (!parsed.out.empty() && !writePam(read.image, parsed.out)) {
        std::cerr << "trellik-tool image: cannot write " << parsed.out << "\n";
        return exitRefused;
    }
    return exitSuccess;
}

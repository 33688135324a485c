// The texture loader: reads an image file, reports what it cannot use, makes the GL texture.
#include "content/textureControlCode.h"

#include <GL/gl.h>
#include <GL/glu.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <vector>

#include "platform/net/downloadFileCode.h"
#include "platform/window/globalConsoleCode.h"
#include "platform/window/messageBox.h"
#include "platform/store/pathResolver.h"

// Texts start as std::string rather than a literal: GCC 12 at -O3 warns falsely about a literal
// added in front of a string.
namespace {

const std::string dq = "\"";
const std::string bmpCaption = "BMP Unit";
const std::string tgaCaption = "TGA File Error";

// More than any picture the decoders accept can fill (run-length and JPEG data can be larger
// than the pixels they hold); a bigger file is read only this far, so that its size alone
// cannot exhaust memory.
constexpr uint64_t maxImageFileBytes = 2 * maxImageMemory;

// The content of a regular file (up to the bound); false when it cannot be opened or read.
bool readFileBytes(const std::string& path, std::vector<uint8_t>& bytes) {
    const int file = ::open(resolvePath(path).c_str(), O_RDONLY | O_CLOEXEC);
    if (file < 0) return false;
    struct stat info {};
    bool ok = ::fstat(file, &info) == 0 && S_ISREG(info.st_mode);
    if (ok) bytes.resize(static_cast<size_t>(std::min<uint64_t>(info.st_size, maxImageFileBytes)));
    size_t done = 0;
    while (ok && done < bytes.size()) {
        const ssize_t count = ::read(file, bytes.data() + done, bytes.size() - done);
        if (count < 0) ok = false;
        if (count <= 0) break;
        done += static_cast<size_t>(count);
    }
    ::close(file);
    bytes.resize(done);
    return ok;
}

TimageFileRead failed(const std::string& message, const std::string& caption) {
    TimageFileRead read;
    read.message = message;
    read.caption = caption;
    return read;
}

TimageFileRead succeeded(TpixelBuffer&& image) {
    TimageFileRead read;
    read.decoded = true;
    read.image = std::move(image);
    return read;
}

std::string sizeRefusal(const std::string& path) {
    return std::string("Couldn't load ") + dq + path + dq + ". Width and height must be 1 to 16384.";
}

std::string bmpMessage(TimageFault fault, const std::string& path) {
    switch (fault) {
        case TimageFault::bmpPaletteShort:
            return "Error reading palette";
        case TimageFault::bmpVariant:
            return std::string("Couldn't load ") + dq + path + dq + ". Only uncompressed 24 bit BMP files supported.";
        case TimageFault::badSize:
            return sizeRefusal(path);
        default:
            return "Error reading bitmap data";
    }
}

std::string tgaMessage(TimageFault fault, const std::string& path) {
    const std::string named = std::string("Couldn't load ") + dq + path + dq + ".";
    switch (fault) {
        case TimageFault::tgaType:
            return named + " Only 24 and 32bit TGA supported.";
        case TimageFault::tgaColourMap:
            return named + " Colormapped TGA files not supported.";
        case TimageFault::tgaDepth:
            return named + " Only 24 and 32 bit TGA files supported.";
        case TimageFault::badSize:
            return sizeRefusal(path);
        default:
            return std::string("Couldn't read file ") + dq + path + dq + ".";
    }
}

std::string jpgMessage(TimageFault fault, const std::string& path) {
    if (fault == TimageFault::badSize) return sizeRefusal(path);
    return std::string("Couldn't load JPG - ") + dq + path + dq;
}

bool showAndRefuse(const TimageFileRead& read) {
    messageBox(read.message, read.caption, TmessageKind::error);
    return false;
}

bool makeTextureFrom(const TimageFileRead& read, uint32_t& texture) {
    if (!read.decoded) return showAndRefuse(read);
    const TpixelBuffer& image = read.image;
    texture = TtextureLoader::makeTexture(static_cast<uint16_t>(image.width), static_cast<uint16_t>(image.height),
                                          image.pixels.data(), image.layout);
    return true;
}

char upperAscii(char c) {
    return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
}

}  // namespace

TimageReader readerForPath(const std::string& path) {
    if (path.size() < 4) return TimageReader::none;
    std::string ending = path.substr(path.size() - 4);
    for (char& c : ending) c = upperAscii(c);
    if (ending == ".BMP") return TimageReader::bmp;
    if (ending == ".JPG") return TimageReader::jpg;
    if (ending == ".TGA") return TimageReader::tga;
    return TimageReader::none;
}

TimageFileRead readBmpFile(const std::string& path) {
    std::vector<uint8_t> bytes;
    if (!readFileBytes(path, bytes)) return failed(std::string("Error opening ") + path, bmpCaption);
    TdecodedImage decoded = decodeBmp(bytes.data(), bytes.size());
    if (!decoded.ok()) return failed(bmpMessage(decoded.fault, path), bmpCaption);
    return succeeded(std::move(decoded.image));
}

TimageFileRead readJpgFile(const std::string& path) {
    std::vector<uint8_t> bytes;
    if (!readFileBytes(path, bytes)) return failed(jpgMessage(TimageFault::jpegError, path), bmpCaption);
    TdecodedImage decoded = decodeJpeg(bytes.data(), bytes.size());
    if (!decoded.ok()) return failed(jpgMessage(decoded.fault, path), bmpCaption);
    return succeeded(std::move(decoded.image));
}

TimageFileRead readTgaFile(const std::string& path) {
    if (!pathExists(path)) return failed(std::string("File not found  - ") + path, "TGA Texture");
    std::vector<uint8_t> bytes;
    if (!readFileBytes(path, bytes)) return failed(tgaMessage(TimageFault::tgaDataShort, path), tgaCaption);
    TdecodedImage decoded = decodeTga(bytes.data(), bytes.size());
    if (!decoded.ok()) return failed(tgaMessage(decoded.fault, path), tgaCaption);
    return succeeded(std::move(decoded.image));
}

TimageFileRead readImageFile(TimageReader reader, const std::string& path) {
    switch (reader) {
        case TimageReader::bmp:
            return readBmpFile(path);
        case TimageReader::jpg:
            return readJpgFile(path);
        case TimageReader::tga:
            return readTgaFile(path);
        case TimageReader::none:
            break;
    }
    return TimageFileRead{};
}

bool TtextureLoader::loadTexture(const std::string& path, uint32_t& texture) {
    const TimageReader reader = readerForPath(path);
    if (reader == TimageReader::none) return false;
    return makeTextureFrom(readImageFile(reader, path), texture);
}

bool TtextureLoader::loadJacketTexture(const std::string& path, uint32_t& texture) {
    const TimageReader reader = readerForPath(path);
    if (reader == TimageReader::none) return false;
    TimageFileRead read = readImageFile(reader, path);
    if (!read.decoded) return showAndRefuse(read);
    const TjacketImage jacket = prepareJacket(read.image);
    // The full-size pixels go before the texture is made, so only one big image is held at a time.
    read.image = {};
    if (jacket.levels.empty()) return false;
    texture = makeJacketTexture(jacket);
    return true;
}

uint32_t TtextureLoader::makeJacketTexture(const TjacketImage& image) {
    const GLuint name = newBoundTexture();
    const GLenum format = image.layout == TpixelLayout::rgba ? GL_RGBA : GL_RGB;
    GLsizei side = static_cast<GLsizei>(image.side);
    for (size_t level = 0; level < image.levels.size(); ++level, side = std::max(1, side / 2))
        glTexImage2D(GL_TEXTURE_2D, static_cast<GLint>(level), static_cast<GLint>(format), side, side, 0, format,
                     GL_UNSIGNED_BYTE, image.levels[level].data());
    return name;
}

void TtextureLoader::loadTextureOrDownload(const std::string& path, uint32_t& texture, bool announce) {
    if (pathExists(path) || downloadFile(updateServerUrl() + path, path, announce)) loadTexture(path, texture);
}

bool TtextureLoader::loadBmpTexture(const std::string& path, uint32_t& texture) {
    return makeTextureFrom(readBmpFile(path), texture);
}

bool TtextureLoader::loadJpgTexture(const std::string& path, uint32_t& texture) {
    return makeTextureFrom(readJpgFile(path), texture);
}

bool TtextureLoader::loadTgaTexture(const std::string& path, uint32_t& texture) {
    return makeTextureFrom(readTgaFile(path), texture);
}

uint32_t TtextureLoader::newBoundTexture() {
    GLuint name = 0;
    glGenTextures(1, &name);
    glBindTexture(GL_TEXTURE_2D, name);
    glTexEnvi(GL_TEXTURE_ENV, GL_TEXTURE_ENV_MODE, GL_MODULATE);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_LINEAR);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_LINEAR_MIPMAP_LINEAR);
    glTexParameterf(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, static_cast<GLfloat>(GL_CLAMP_TO_EDGE));
    glTexParameterf(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, static_cast<GLfloat>(GL_CLAMP_TO_EDGE));
    // Rows are packed: with the default alignment of 4, rows of odd byte lengths would shear.
    glPixelStorei(GL_UNPACK_ALIGNMENT, 1);
    return name;
}

uint32_t TtextureLoader::makeTexture(uint16_t width, uint16_t height, const uint8_t* pixels, TpixelLayout layout) {
    const GLuint name = newBoundTexture();
    if (layout == TpixelLayout::rgba)
        gluBuild2DMipmaps(GL_TEXTURE_2D, GL_RGBA, width, height, GL_RGBA, GL_UNSIGNED_BYTE, pixels);
    else
        gluBuild2DMipmaps(GL_TEXTURE_2D, 3, width, height, GL_RGB, GL_UNSIGNED_BYTE, pixels);
    return name;
}

TloaderSteps gameLoaderSteps(const std::function<void()>& refresh) {
    TloaderSteps steps;
    steps.loadImage = TtextureLoader::loadTexture;
    steps.loadImageOrDownload = TtextureLoader::loadTextureOrDownload;
    steps.write = consoleWrite;
    steps.writeLine = consoleWriteLine;
    steps.refresh = [refresh] { consoleDrawFrame(refresh); };
    return steps;
}

TloaderSteps gameSongLoaderSteps(const std::function<void()>& refresh) {
    TloaderSteps steps = gameLoaderSteps(refresh);
    steps.loadImage = TtextureLoader::loadJacketTexture;
    return steps;
}

std::string tableBlanks(int count) {
    return std::string(count > 0 ? static_cast<size_t>(count) : 0, ' ');
}

int tableWidth(const std::string& text) {
    // Continuation bytes (10xxxxxx) add to the character their lead byte began.
    return static_cast<int>(std::count_if(text.begin(), text.end(), [](char c) {
        return (static_cast<unsigned char>(c) & 0xC0) != 0x80;
    }));
}

// The texture loader's choice of reader and the message it shows for each file it cannot use.
// No case here reaches GL: a refused file creates no texture.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include "content/textureControlCode.h"
#include "tests/support/testSupport.h"
#include "tests/test_imageFiles.h"

namespace {

constexpr uint32_t untouched = 77;

class ImageLoaderMessages : public ::testing::Test {
protected:
    void SetUp() override {
        makePlasma(folder.file("p.png"), 4, 3);
        imageMagick(quoted(folder.file("p.png")) + " -type TrueColor BMP3:'" + folder.file("good.bmp") + "'");
        imageMagick(quoted(folder.file("p.png")) + " -compress None " + quoted(folder.file("good.tga")));
    }

    // Loads path and expects a refusal with exactly this message and caption.
    void expectRefused(const std::string& path, const std::string& message, const std::string& caption) {
        recorder.clear();
        uint32_t texture = untouched;
        EXPECT_FALSE(TtextureLoader::loadTexture(path, texture)) << path;
        EXPECT_EQ(texture, untouched) << path;
        ASSERT_EQ(recorder.messages().size(), 1u) << path;
        EXPECT_EQ(recorder.messages()[0].text, message);
        EXPECT_EQ(recorder.messages()[0].caption, caption);
    }

    // A copy of a good file with some bytes replaced, or cut to a length.
    std::string variant(const std::string& source, const std::string& name, size_t at, std::string bytes,
                        size_t keep = std::string::npos) {
        std::string content = readFile(folder.file(source));
        content.replace(at, bytes.size(), bytes);
        writeFile(folder.file(name), content.substr(0, keep));
        return folder.file(name);
    }

    TtemporaryFolder folder;
    TmessageRecorder recorder;
};

std::string inDoubleQuotes(const std::string& text) {
    return std::string("\"") + text + "\"";
}

}  // namespace

TEST_F(ImageLoaderMessages, BmpFailures) {
    const std::string missing = folder.file("missing.bmp");
    expectRefused(missing, std::string("Error opening ") + missing, "BMP Unit");
    expectRefused(variant("good.bmp", "palette.bmp", 46, std::string("\xff\x00\x00\x00", 4)), "Error reading palette",
                  "BMP Unit");
    expectRefused(variant("good.bmp", "short.bmp", 0, "", 60), "Error reading bitmap data", "BMP Unit");
    const std::string deep = variant("good.bmp", "deep.bmp", 28, std::string("\x20\x00", 2));
    expectRefused(
        deep, std::string("Couldn't load ") + inDoubleQuotes(deep) + ". Only uncompressed 24 bit BMP files supported.",
        "BMP Unit");
    const std::string empty = variant("good.bmp", "empty.bmp", 18, std::string(4, '\0'));
    expectRefused(empty,
                  std::string("Couldn't load ") + inDoubleQuotes(empty) + ". Width and height must be 1 to 16384.",
                  "BMP Unit");
}

TEST_F(ImageLoaderMessages, JpegFailures) {
    const std::string broken = folder.file("broken.jpg");
    writeFile(broken, "\xff\xd8\xff\xe0 not really");
    expectRefused(broken, std::string("Couldn't load JPG - ") + inDoubleQuotes(broken), "BMP Unit");
    const std::string missing = folder.file("missing.JPG");
    expectRefused(missing, std::string("Couldn't load JPG - ") + inDoubleQuotes(missing), "BMP Unit");
}

TEST_F(ImageLoaderMessages, TgaFailuresInTheOrderOfTheChecks) {
    const std::string missing = folder.file("missing.tga");
    expectRefused(missing, std::string("File not found  - ") + missing, "TGA Texture");
    const std::string mapped = variant("good.tga", "mapped.tga", 1, std::string("\x01\x01", 2));
    expectRefused(mapped, std::string("Couldn't load ") + inDoubleQuotes(mapped) + ". Only 24 and 32bit TGA supported.",
                  "TGA File Error");
    const std::string map2 = variant("good.tga", "map2.tga", 1, std::string("\x01", 1));
    expectRefused(map2, std::string("Couldn't load ") + inDoubleQuotes(map2) + ". Colormapped TGA files not supported.",
                  "TGA File Error");
    const std::string thin = variant("good.tga", "thin.tga", 16, std::string("\x10", 1));
    expectRefused(thin,
                  std::string("Couldn't load ") + inDoubleQuotes(thin) + ". Only 24 and 32 bit TGA files supported.",
                  "TGA File Error");
    const std::string cut = variant("good.tga", "cut.tga", 0, "", 30);
    expectRefused(cut, std::string("Couldn't read file ") + inDoubleQuotes(cut) + ".", "TGA File Error");
    const std::string folderNamedTga = folder.file("folder.tga");
    ::mkdir(folderNamedTga.c_str(), 0755);
    expectRefused(folderNamedTga, std::string("Couldn't read file ") + inDoubleQuotes(folderNamedTga) + ".",
                  "TGA File Error");
}

TEST_F(ImageLoaderMessages, ExtensionChoosesTheReaderWithoutRegardToCase) {
    expectRefused(folder.file("a.Tga"), std::string("File not found  - ") + folder.file("a.Tga"), "TGA Texture");
    expectRefused(folder.file("a.tga"), std::string("File not found  - ") + folder.file("a.tga"), "TGA Texture");
    expectRefused(folder.file("a.BmP"), std::string("Error opening ") + folder.file("a.BmP"), "BMP Unit");

    // Anything else loads nothing and says nothing, a readable JPEG named ".jpeg" included.
    imageMagick(quoted(folder.file("p.png")) + " " + quoted(folder.file("real.jpeg")));
    recorder.clear();
    for (const std::string name : {"real.jpeg", "good.png", "tga", ""}) {
        uint32_t texture = untouched;
        EXPECT_FALSE(TtextureLoader::loadTexture(folder.file(name), texture));
        EXPECT_EQ(texture, untouched);
    }
    EXPECT_TRUE(recorder.messages().empty());
}

TEST_F(ImageLoaderMessages, FileNamesMatchWithoutRegardToCase) {
    const TimageFileRead read = readImageFile(readerForPath("GOOD.TGA"), folder.file("GOOD.TGA"));
    EXPECT_TRUE(read.decoded);
    EXPECT_EQ(read.image.width, 4u);
    EXPECT_TRUE(readImageFile(TimageReader::bmp, folder.path() + "\\Good.Bmp").decoded);
}

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
        imageMagick("'" + folder.file("p.png") + "' -type TrueColor BMP3:'" + folder.file("good.bmp") + "'");
        imageMagick("'" + folder.file("p.png") + "' -compress None '" + folder.file("good.tga") + "'");
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

std::string quoted(const std::string& text) {
    return "\"" + text + "\"";
}

}  // namespace

TEST_F(ImageLoaderMessages, BmpFailures) {
    const std::string missing = folder.file("missing.bmp");
    expectRefused(missing, "Error opening " + missing, "BMP Unit");
    expectRefused(variant("good.bmp", "palette.bmp", 46, std::string("\xff\x00\x00\x00", 4)), "Error reading palette",
                  "BMP Unit");
    expectRefused(variant("good.bmp", "short.bmp", 0, "", 60), "Error reading bitmap data", "BMP Unit");
    const std::string deep = variant("good.bmp", "deep.bmp", 28, std::string("\x20\x00", 2));
    expectRefused(deep, "Couldn't load " + quoted(deep) + ". Only uncompressed 24 bit BMP files supported.", "BMP Unit");
    const std::string empty = variant("good.bmp", "empty.bmp", 18, std::string(4, '\0'));
    expectRefused(empty, "Couldn't load " + quoted(empty) + ". Width and height must be 1 to 16384.", "BMP Unit");
}

TEST_F(ImageLoaderMessages, JpegFailures) {
    const std::string broken = folder.file("broken.jpg");
    writeFile(broken, "\xff\xd8\xff\xe0 not really");
    expectRefused(broken, "Couldn't load JPG - " + quoted(broken), "BMP Unit");
    const std::string missing = folder.file("missing.JPG");
    expectRefused(missing, "Couldn't load JPG - " + quoted(missing), "BMP Unit");
}

TEST_F(ImageLoaderMessages, TgaFailuresInTheOrderOfTheChecks) {
    const std::string missing = folder.file("missing.tga");
    expectRefused(missing, "File not found  - " + missing, "TGA Texture");
    const std::string mapped = variant("good.tga", "mapped.tga", 1, std::string("\x01\x01", 2));
    expectRefused(mapped, "Couldn't load " + quoted(mapped) + ". Only 24 and 32bit TGA supported.", "TGA File Error");
    const std::string map2 = variant("good.tga", "map2.tga", 1, std::string("\x01", 1));
    expectRefused(map2, "Couldn't load " + quoted(map2) + ". Colormapped TGA files not supported.", "TGA File Error");
    const std::string thin = variant("good.tga", "thin.tga", 16, std::string("\x10", 1));
    expectRefused(thin, "Couldn't load " + quoted(thin) + ". Only 24 and 32 bit TGA files supported.", "TGA File Error");
    const std::string cut = variant("good.tga", "cut.tga", 0, "", 30);
    expectRefused(cut, "Couldn't read file " + quoted(cut) + ".", "TGA File Error");
    const std::string folderNamedTga = folder.file("folder.tga");
    ::mkdir(folderNamedTga.c_str(), 0755);
    expectRefused(folderNamedTga, "Couldn't read file " + quoted(folderNamedTga) + ".", "TGA File Error");
}

TEST_F(ImageLoaderMessages, ExtensionChoosesTheReaderWithoutRegardToCase) {
    expectRefused(folder.file("a.Tga"), "File not found  - " + folder.file("a.Tga"), "TGA Texture");
    expectRefused(folder.file("a.tga"), "File not found  - " + folder.file("a.tga"), "TGA Texture");
    expectRefused(folder.file("a.BmP"), "Error opening " + folder.file("a.BmP"), "BMP Unit");

    // Anything else loads nothing and says nothing, a readable JPEG named ".jpeg" included.
    imageMagick("'" + folder.file("p.png") + "' '" + folder.file("real.jpeg") + "'");
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

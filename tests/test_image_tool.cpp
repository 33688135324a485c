// trellik-tool image, skins and songs as authors run them.
#include <gtest/gtest.h>

#include <sys/resource.h>
#include <sys/wait.h>

#include "tests/support/testSupport.h"
#include "tests/test_imageFiles.h"

namespace {

struct TtoolResult {
    int status = -1;
    std::string out;
};

TtoolResult runTool(const std::string& arguments) {
    TtoolResult result;
    FILE* pipe = ::popen((quoted(builtProgram("tools/trellik-tool")) + " " + arguments + " 2>/dev/null").c_str(), "r");
    if (!pipe) return result;
    char chunk[4096];
    for (size_t count = 0; (count = std::fread(chunk, 1, sizeof chunk, pipe)) > 0;) result.out.append(chunk, count);
    const int status = ::pclose(pipe);
    result.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return result;
}

}  // namespace

TEST(ImageTool, DecodedPixelsAgreeWithImageMagickOnEveryTestImage) {
    TtemporaryFolder folder;
    makePlasma(folder.file("p.png"), 13, 7);
    const std::string p = quoted(folder.file("p.png")) + " ";
    const std::string alpha = p + "-alpha set -channel A -fx 'i/w' +channel ";
    struct Tcase {
        std::string name;
        std::string options;
        std::string map;
    };
    const std::vector<Tcase> cases = {
        {"raw24.tga", p + "-compress None", "rgb"},
        {"rle32.tga", alpha + "-compress RLE", "rgba"},
        {"top.tga", p + "-compress RLE -orient TopLeft", "rgb"},
        {"id.tga", alpha + "-compress None -set comment id", "rgba"},
        {"v3.bmp", p + "-type TrueColor BMP3:", "rgb"},
        {"v5.bmp", p + "-type TrueColor BMP:", "rgb"},
        {"colour.jpg", p + "-quality 80", "rgba"},
        {"grey.jpg", p + "-type Grayscale", "rgba"},
    };
    for (const Tcase& test : cases) {
        const std::string image = folder.file(test.name);
        const bool prefixed = test.options.back() == ':';
        imageMagick(test.options + (prefixed ? "" : " ") + quoted(image));
        const TtoolResult result =
            runTool(std::string("image ") + quoted(image) + " --out " + quoted(folder.file("out.pam")));
        EXPECT_EQ(result.status, 0) << test.name;
        EXPECT_NE(result.out.find(std::string("size: 13 x 7\nlayout: ") +
                                  std::string(test.map == "rgba" ? "RGBA" : "RGB") + "\n"),
                  std::string::npos)
            << result.out;
        EXPECT_EQ(imageMagickPixels(folder.file("out.pam"), test.map), imageMagickPixels(image, test.map)) << test.name;
    }
}

TEST(ImageTool, RefusalsPrintTheGamesMessage) {
    TtemporaryFolder folder;
    writeFile(folder.file("short.tga"), std::string("\0\0\2\0\0\0\0\0\0\0\0\0\4\0\4\0\x18\0", 18));
    const TtoolResult refused = runTool(std::string("image ") + quoted(folder.file("short.tga")));
    EXPECT_EQ(refused.status, 1);
    EXPECT_NE(refused.out.find(std::string("message: Couldn't read file \"") + folder.file("short.tga") +
                               "\".\ncaption: TGA File Error"),
              std::string::npos)
        << refused.out;
    EXPECT_EQ(runTool("image a.jpeg").status, 1);
    EXPECT_EQ(runTool("image").status, 2);
}

TEST(ImageTool, ATinyJpegAnnouncingAHugePictureIsRefusedInLittleMemory) {
    TtemporaryFolder folder;
    makePlasma(folder.file("p.png"), 8, 8);
    imageMagick(quoted(folder.file("p.png")) + " " + quoted(folder.file("p.jpg")));
    const std::string readFromJpeg = readFile(folder.file("p.jpg"));
    const std::vector<uint8_t> huge =
        jpegAnnouncing(std::vector<uint8_t>(readFromJpeg.begin(), readFromJpeg.end()), 16384, 16384);
    ASSERT_LT(huge.size(), 1024u);
    writeFile(folder.file("huge.jpg"), std::string(huge.begin(), huge.end()));

    const TtoolResult refused = runTool(std::string("image ") + quoted(folder.file("huge.jpg")));
    EXPECT_EQ(refused.status, 1);
    EXPECT_NE(refused.out.find(std::string("message: Couldn't load \"") + folder.file("huge.jpg") +
                               "\". Width and height must be 1 to 16384.\ncaption: BMP Unit"),
              std::string::npos)
        << refused.out;
    // The largest resident size of any program this test run has waited for, the tool included.
    rusage children{};
    ::getrusage(RUSAGE_CHILDREN, &children);
    EXPECT_LT(children.ru_maxrss, 300 * 1024) << "KiB";
}

TEST(ContentTool, SkinsAndSongsPrintTheGamesTables) {
    TtemporaryFolder folder;
    makePlasma(folder.file("p.png"), 4, 4);
    for (int i = 0; i < 2; ++i)
        imageMagick(quoted(folder.file("p.png")) + " " +
                    quoted(folder.file(std::string("star_miss_") + std::to_string(i) + ".tga")));
    const TtoolResult skins = runTool(std::string("skins ") + quoted(folder.path()));
    EXPECT_EQ(skins.status, 0);
    EXPECT_NE(skins.out.find(std::string("| star miss..") + std::string(44, ' ') + "DONE! |\n"), std::string::npos)
        << skins.out;
    EXPECT_NE(skins.out.find("| 1 markers loaded "), std::string::npos);

    writeFile(folder.file("star_prev.bmp"), "broken");
    EXPECT_EQ(runTool(std::string("skins ") + quoted(folder.path())).status, 1);

    writeFile(folder.file("song0.txt"), "");
    writeFile(folder.file("song2.txt"), "");
    const TtoolResult songs = runTool(std::string("songs ") + quoted(folder.path()));
    EXPECT_EQ(songs.status, 0);
    EXPECT_NE(songs.out.find(std::string("| song") + std::string(41, ' ') + "|  BSC     EXT  |\n"), std::string::npos)
        << songs.out;
    EXPECT_NE(songs.out.find("| 1 songs loaded "), std::string::npos);
}

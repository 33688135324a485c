// Textures made from decoded images, read back from GL in a real window under Xvfb; and the
// skin and catalogue loaders on the game's own path (texture loader and console).
#include <gtest/gtest.h>

#include <GL/gl.h>

#include <functional>
#include <memory>

#include "content/textureControlCode.h"
#include "content/trellikMarkersLoaderCode.h"
#include "content/trellikSongListLoaderCode.h"
#include "platform/net/downloadFileCode.h"
#include "platform/window/openGLClass.h"
#include "platform/store/pathResolver.h"
#include "tests/support/fontFixture.h"
#include "tests/support/testSupport.h"
#include "tests/support/updateServerFixture.h"
#include "tests/test_imageFiles.h"

namespace {

// Runs work once inside the draw handler of a small window, with its GL context current. The
// working directory must be a test's own folder: the console font and log go there.
void withGLContext(const std::function<void()>& work) {
    writeFile("font.fnt", sampleFontFileBytes());
    TopenGLEngine window;
    window.setup(160, 120, false, "texture test", "font.fnt");
    window.onDraw = [&] {
        work();
        return false;
    };
    window.run();
}

GLint textureLevelParameter(GLint level, GLenum parameter) {
    GLint value = 0;
    glGetTexLevelParameteriv(GL_TEXTURE_2D, level, parameter, &value);
    return value;
}

// Level 0 of the bound texture, rows bottom-up as GL holds them, packed.
std::vector<uint8_t> levelZero(TpixelLayout layout) {
    const size_t pixelSize = bytesPerPixel(layout);
    const GLint width = textureLevelParameter(0, GL_TEXTURE_WIDTH);
    const GLint height = textureLevelParameter(0, GL_TEXTURE_HEIGHT);
    std::vector<uint8_t> pixels(static_cast<size_t>(width * height) * pixelSize);
    glPixelStorei(GL_PACK_ALIGNMENT, 1);
    glGetTexImage(GL_TEXTURE_2D, 0, layout == TpixelLayout::rgba ? GL_RGBA : GL_RGB, GL_UNSIGNED_BYTE, pixels.data());
    return pixels;
}

GLint boundTexture() {
    GLint name = 0;
    glGetIntegerv(GL_TEXTURE_BINDING_2D, &name);
    return name;
}

}  // namespace

TEST(MakeTexture, UploadsPackedRowsOfAnyWidthWithMipmapsAndTheGameSettings) {
    TtemporaryFolder folder;
    TworkingDirectory inFolder(folder.path());
    // Rows of 6 and 2 bytes: only an unpack alignment of 1 keeps them apart.
    const std::vector<uint8_t> rgb = {10, 20, 30, 40, 50, 60, 70, 80, 90, 100, 110, 120};
    const std::vector<uint8_t> grey = {1, 2, 3, 4, 5, 6, 7, 8};
    withGLContext([&] {
        const uint32_t name = TtextureLoader::makeTexture(2, 2, rgb.data(), TpixelLayout::rgb);
        EXPECT_NE(name, 0u);
        EXPECT_EQ(boundTexture(), static_cast<GLint>(name));
        EXPECT_EQ(levelZero(TpixelLayout::rgb), rgb);
        EXPECT_EQ(textureLevelParameter(0, GL_TEXTURE_ALPHA_SIZE), 0);
        EXPECT_EQ(textureLevelParameter(1, GL_TEXTURE_WIDTH), 1);
        GLint value = 0;
        glGetTexParameteriv(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, &value);
        EXPECT_EQ(value, GL_LINEAR);
        glGetTexParameteriv(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, &value);
        EXPECT_EQ(value, GL_LINEAR_MIPMAP_LINEAR);
        glGetTexParameteriv(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, &value);
        EXPECT_EQ(value, GL_CLAMP_TO_EDGE);
        glGetTexParameteriv(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, &value);
        EXPECT_EQ(value, GL_CLAMP_TO_EDGE);
        glGetTexEnviv(GL_TEXTURE_ENV, GL_TEXTURE_ENV_MODE, &value);
        EXPECT_EQ(value, GL_MODULATE);

        const uint32_t rgbaName = TtextureLoader::makeTexture(2, 1, grey.data(), TpixelLayout::rgba);
        EXPECT_NE(rgbaName, name);
        EXPECT_EQ(levelZero(TpixelLayout::rgba), grey);
        EXPECT_EQ(textureLevelParameter(0, GL_TEXTURE_ALPHA_SIZE), 8);

        // Sides that are not powers of two are scaled to powers of two.
        const std::vector<uint8_t> odd(5 * 3 * 3, 128);
        TtextureLoader::makeTexture(5, 3, odd.data(), TpixelLayout::rgb);
        const GLint width = textureLevelParameter(0, GL_TEXTURE_WIDTH);
        const GLint height = textureLevelParameter(0, GL_TEXTURE_HEIGHT);
        EXPECT_EQ(width & (width - 1), 0) << width;
        EXPECT_EQ(height & (height - 1), 0) << height;
    });
}

TEST(LoadTexture, FilesArriveUprightWithTheirLayout) {
    TtemporaryFolder folder;
    TworkingDirectory inFolder(folder.path());
    makePlasma(folder.file("p.png"), 2, 4);
    imageMagick(quoted(folder.file("p.png")) + " -alpha set -channel A -fx 'j/h' +channel " +
                quoted(folder.file("a.png")));
    const std::string p = quoted(folder.file("p.png")) + " ";
    imageMagick(p + "-type TrueColor BMP3:'" + folder.file("p.bmp") + "'");
    imageMagick(p + "-compress RLE -orient TopLeft " + quoted(folder.file("p.Tga")));
    imageMagick(quoted(folder.file("a.png")) + " -compress None " + quoted(folder.file("a.tga")));
    imageMagick(p + "-quality 95 " + quoted(folder.file("p.jpg")));
    struct Tcase {
        std::string name;
        TpixelLayout layout;
        GLint alphaSize;
    };
    const std::vector<Tcase> cases = {{"p.bmp", TpixelLayout::rgb, 0},
                                      {"p.Tga", TpixelLayout::rgb, 0},
                                      {"a.tga", TpixelLayout::rgba, 8},
                                      {"p.jpg", TpixelLayout::rgba, 8}};
    TmessageRecorder recorder;
    withGLContext([&] {
        for (const Tcase& test : cases) {
            uint32_t texture = 0;
            ASSERT_TRUE(TtextureLoader::loadTexture(folder.file(test.name), texture)) << test.name;
            EXPECT_EQ(boundTexture(), static_cast<GLint>(texture));
            EXPECT_EQ(textureLevelParameter(0, GL_TEXTURE_ALPHA_SIZE), test.alphaSize) << test.name;
            const std::string map = test.layout == TpixelLayout::rgba ? "rgba" : "rgb";
            std::vector<uint8_t> expected = imageMagickPixels(folder.file(test.name), map);
            if (test.name == "p.jpg") {
                expected = imageMagickPixels(folder.file(test.name), "rgb");
                std::vector<uint8_t> opaque;
                for (size_t i = 0; i < expected.size(); i += 3)
                    opaque.insert(opaque.end(), {expected[i], expected[i + 1], expected[i + 2], 255});
                expected = opaque;
            }
            TpixelBuffer uploaded{2, 4, test.layout, levelZero(test.layout)};
            EXPECT_EQ(topRowFirst(uploaded), expected) << test.name;
        }
    });
    EXPECT_TRUE(recorder.messages().empty());
}

TEST(LoadTexture, ExistingStockFileLoadsWithoutAFetch) {
    TtemporaryFolder folder;
    TworkingDirectory inFolder(folder.path());
    createFolders("GFX");
    makePlasma("GFX/logo.png", 4, 4);
    imageMagick("GFX/logo.png -compress None GFX/Logo.TGA");
    withGLContext([&] {
        uint32_t texture = 0;
        TtextureLoader::loadTextureOrDownload("gfx\\logo.tga", texture, true);
        EXPECT_NE(texture, 0u);
    });
}

TEST(GameLoaders, SkinsAndJacketsBecomeTextures) {
    TtemporaryFolder folder;
    TworkingDirectory inFolder(folder.path());
    createFolders("MKR");
    createFolders("sng");
    createFolders("gfx");
    makePlasma("frame.png", 8, 8);
    for (int i = 0; i < 3; ++i)
        imageMagick(std::string("frame.png -compress None MKR/star_normal_") + std::to_string(i) + ".tga");
    imageMagick("frame.png MKR/star_prev.jpg");
    imageMagick("frame.png -type TrueColor BMP3:sng/song.bmp");
    imageMagick("frame.png gfx/defaultCover.jpg");
    writeFile("sng/song0.txt", "");
    writeFile("sng/other1.txt", "");
    auto markers = std::make_unique<TmarkersControl>();
    auto songs = std::make_unique<TsongsLoadingData>();
    TmessageRecorder recorder;
    withGLContext([&] {
        loadMarkers(*markers, "MKR\\", nullptr);
        loadSongs(*songs, nullptr);
    });
    EXPECT_TRUE(recorder.messages().empty());
    const Tmarker& star = markers->markers[1];
    EXPECT_EQ(star.lastFrame[0], 2);
    EXPECT_NE(star.frames[0][0], 0u);
    EXPECT_NE(star.frames[0][1], star.frames[0][0]);
    EXPECT_NE(star.preview, 0u);
    EXPECT_EQ(getLastIndex(*songs), 1);
    EXPECT_NE(getSongCover(*songs, 0), 0u);
    EXPECT_NE(getSongCover(*songs, 1), getSongCover(*songs, 0));
    // The tables went to the console, whose log keeps them.
    const std::string log = readFile("debug.txt");
    EXPECT_NE(log.find(std::string("| star normal...") + std::string(41, ' ') + "DONE! |\r\n"), std::string::npos)
        << log;
    EXPECT_NE(log.find("| 2 songs loaded "), std::string::npos) << log;
}

TEST(GameLoaders, MissingDefaultJacketIsFetchedOnceAndEachSongGetsItsOwnTexture) {
    TtemporaryFolder root;
    TtemporaryFolder game;
    TworkingDirectory inGame(game.path());
    TupdateServerFixture server(root.path());
    createFolders(root.file("gfx"));
    makePlasma(root.file("cover.png"), 8, 8);
    imageMagick(root.file("cover.png") + " " + root.file("gfx/defaultCover.jpg"));
    createFolders("sng");
    writeFile("sng/a0.txt", "");
    writeFile("sng/b1.txt", "");
    auto songs = std::make_unique<TsongsLoadingData>();
    setUpdateServerUrl(server.baseUrl());
    withGLContext([&] { loadSongs(*songs, nullptr); });
    setUpdateServerUrl(defaultUpdateServerUrl());
    const std::vector<TservedRequest> requests = server.requests();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].path, "/gfx/defaultCover.jpg");
    EXPECT_TRUE(pathExists("gfx/defaultCover.jpg"));
    EXPECT_NE(getSongCover(*songs, 0), 0u);
    EXPECT_NE(getSongCover(*songs, 1), 0u);
    EXPECT_NE(getSongCover(*songs, 0), getSongCover(*songs, 1));
}

TEST(GameLoaders, FailedFetchOfTheDefaultJacketRaisesToTheCaller) {
    TtemporaryFolder root;
    TtemporaryFolder game;
    TworkingDirectory inGame(game.path());
    TupdateServerFixture server(root.path());
    createFolders("sng");
    writeFile("sng/a0.txt", "");
    auto songs = std::make_unique<TsongsLoadingData>();
    setUpdateServerUrl(server.baseUrl());
    withGLContext([&] { EXPECT_THROW(loadSongs(*songs, nullptr), std::runtime_error); });
    setUpdateServerUrl(defaultUpdateServerUrl());
    EXPECT_EQ(getSongCover(*songs, 0), 0u);
}

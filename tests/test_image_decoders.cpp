// The BMP, TGA and JPEG decoders against ImageMagick's decoding of files ImageMagick wrote,
// and their refusals of broken or unsupported files.
#include <gtest/gtest.h>

#include <jpeglib.h>

#include <cstring>

#include "content/imageDecoders.h"
#include "tests/support/testSupport.h"
#include "tests/test_imageFiles.h"

namespace {

std::vector<uint8_t> bytesOf(const std::string& path) {
    const std::string bytes = readFile(path);
    return std::vector<uint8_t>(bytes.begin(), bytes.end());
}

TdecodedImage decodeFile(TdecodedImage (*decoder)(const uint8_t*, size_t), const std::string& path) {
    const std::vector<uint8_t> bytes = bytesOf(path);
    return decoder(bytes.data(), bytes.size());
}

TdecodedImage decodeJpegFile(const std::string& path) {
    const std::vector<uint8_t> bytes = bytesOf(path);
    return decodeJpeg(bytes.data(), bytes.size());
}

void putU16(std::vector<uint8_t>& bytes, size_t at, uint16_t value) {
    bytes[at] = static_cast<uint8_t>(value);
    bytes[at + 1] = static_cast<uint8_t>(value >> 8);
}

void putU32(std::vector<uint8_t>& bytes, size_t at, uint32_t value) {
    for (int i = 0; i < 4; ++i) bytes[at + i] = static_cast<uint8_t>(value >> (8 * i));
}

uint32_t getU32(const std::vector<uint8_t>& bytes, size_t at) {
    uint32_t value = 0;
    for (int i = 0; i < 4; ++i) value |= uint32_t{bytes[at + i]} << (8 * i);
    return value;
}

// An 18-byte TGA header followed by the given pixel data.
std::vector<uint8_t> tgaFile(uint8_t type, uint16_t width, uint16_t height, uint8_t bits,
                             const std::vector<uint8_t>& data, uint8_t colourMapType = 0) {
    std::vector<uint8_t> bytes(18 + data.size(), 0);
    bytes[1] = colourMapType;
    bytes[2] = type;
    putU16(bytes, 12, width);
    putU16(bytes, 14, height);
    bytes[16] = bits;
    std::copy(data.begin(), data.end(), bytes.begin() + 18);
    return bytes;
}

TimageFault tgaFault(const std::vector<uint8_t>& bytes) {
    return decodeTga(bytes.data(), bytes.size()).fault;
}

TimageFault bmpFault(const std::vector<uint8_t>& bytes) {
    return decodeBmp(bytes.data(), bytes.size()).fault;
}

// libjpeg's plain decoding to RGB, top row first: the reference the game's decoder must match.
std::vector<uint8_t> libjpegReference(const std::string& path) {
    const std::vector<uint8_t> bytes = bytesOf(path);
    jpeg_decompress_struct info;
    jpeg_error_mgr errors;
    info.err = jpeg_std_error(&errors);
    jpeg_create_decompress(&info);
    jpeg_mem_src(&info, bytes.data(), bytes.size());
    jpeg_read_header(&info, TRUE);
    info.out_color_space = JCS_RGB;
    jpeg_start_decompress(&info);
    std::vector<uint8_t> pixels(size_t{info.output_width} * info.output_height * 3);
    while (info.output_scanline < info.output_height) {
        JSAMPROW row = pixels.data() + size_t{info.output_scanline} * info.output_width * 3;
        jpeg_read_scanlines(&info, &row, 1);
    }
    jpeg_finish_decompress(&info);
    jpeg_destroy_decompress(&info);
    return pixels;
}

std::vector<uint8_t> withoutAlpha(const std::vector<uint8_t>& rgba) {
    std::vector<uint8_t> rgb;
    for (size_t i = 0; i < rgba.size(); i += 4) rgb.insert(rgb.end(), rgba.begin() + i, rgba.begin() + i + 3);
    return rgb;
}

class ImageDecoders : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        folder = new TtemporaryFolder;
        makePlasma(file("plasma.png"), 13, 7);
        imageMagick(quoted(file("plasma.png")) + " -alpha set -channel A -fx 'i/w' +channel " +
                    quoted(file("alpha.png")));
        // Flat colour beside noise, so that run-length files hold both run and raw packets.
        imageMagick(std::string("-size 40x5 xc:'#336699' \\( -seed 2 -size 19x5 plasma: \\) -composite '") +
                    file("mixed.png") + "'");
    }
    static void TearDownTestSuite() {
        delete folder;
        folder = nullptr;
    }
    static std::string file(const std::string& name) { return folder->file(name); }

    // Writes source as a TGA with the given ImageMagick options and checks the decoding
    // against ImageMagick's reading of the same file.
    static void expectTgaAgrees(const std::string& source, const std::string& options, const std::string& map) {
        const std::string path = file("out.tga");
        imageMagick(quoted(file(source)) + " " + options + " " + quoted(path));
        const TdecodedImage decoded = decodeFile(decodeTga, path);
        ASSERT_TRUE(decoded.ok()) << options;
        EXPECT_EQ(decoded.image.layout, map == "rgba" ? TpixelLayout::rgba : TpixelLayout::rgb) << options;
        EXPECT_EQ(topRowFirst(decoded.image), imageMagickPixels(path, map)) << options;
    }

    static TtemporaryFolder* folder;
};

TtemporaryFolder* ImageDecoders::folder = nullptr;

}  // namespace

TEST_F(ImageDecoders, TgaOfEveryAcceptedKindMatchesImageMagick) {
    for (const std::string compression : {"-compress None", "-compress RLE"}) {
        expectTgaAgrees("plasma.png", compression, "rgb");
        expectTgaAgrees("alpha.png", compression, "rgba");
        expectTgaAgrees("plasma.png", compression + " -orient TopLeft", "rgb");
        expectTgaAgrees("alpha.png", compression + " -orient TopLeft", "rgba");
        expectTgaAgrees("plasma.png", compression + " -set comment 'an identification field'", "rgb");
        expectTgaAgrees("mixed.png", compression, "rgb");
    }
}

TEST_F(ImageDecoders, TgaTopLeftOriginAndIdentificationFieldDoNotMoveThePicture) {
    imageMagick(quoted(file("plasma.png")) + " -compress None " + quoted(file("plain.tga")));
    const std::vector<uint8_t> plain = bytesOf(file("plain.tga"));
    ASSERT_EQ(plain[0], 0);
    ASSERT_EQ(plain[17] & 0x20, 0);
    // The same picture stored top row first, behind an identification field.
    std::vector<uint8_t> moved(plain.begin(), plain.begin() + 18);
    moved[0] = 5;
    moved[17] |= 0x20;
    moved.insert(moved.end(), {'h', 'e', 'l', 'l', 'o'});
    const size_t rowBytes = 13 * 3;
    for (int row = 6; row >= 0; --row) {
        const auto start = plain.begin() + 18 + row * rowBytes;
        moved.insert(moved.end(), start, start + rowBytes);
    }
    const TdecodedImage fromPlain = decodeTga(plain.data(), plain.size());
    const TdecodedImage fromMoved = decodeTga(moved.data(), moved.size());
    ASSERT_TRUE(fromPlain.ok() && fromMoved.ok());
    EXPECT_EQ(fromPlain.image.pixels, fromMoved.image.pixels);
}

TEST_F(ImageDecoders, RunLengthTgaDecodesToTheSamePixelsAsTheUncompressedFile) {
    for (const std::string source : {"mixed.png", "alpha.png"}) {
        imageMagick(quoted(file(source)) + " -compress None " + quoted(file("raw.tga")));
        imageMagick(quoted(file(source)) + " -compress RLE " + quoted(file("rle.tga")));
        ASSERT_EQ(bytesOf(file("rle.tga"))[2], 10);
        const TdecodedImage raw = decodeFile(decodeTga, file("raw.tga"));
        const TdecodedImage rle = decodeFile(decodeTga, file("rle.tga"));
        ASSERT_TRUE(raw.ok() && rle.ok());
        EXPECT_EQ(raw.image.pixels, rle.image.pixels) << source;
    }
}

TEST_F(ImageDecoders, Bmp24OfAnyWidthMatchesImageMagick) {
    for (const int width : {1, 2, 3, 5, 640}) {
        makePlasma(file("wide.png"), width, 3);
        for (const std::string format : {"BMP3", "BMP"}) {
            const std::string path = file("wide.bmp");
            imageMagick(quoted(file("wide.png")) + " -type TrueColor " + format + ":'" + path + "'");
            const TdecodedImage decoded = decodeFile(decodeBmp, path);
            ASSERT_TRUE(decoded.ok()) << width << format;
            EXPECT_EQ(decoded.image.layout, TpixelLayout::rgb);
            EXPECT_EQ(decoded.image.width, static_cast<uint32_t>(width));
            EXPECT_EQ(topRowFirst(decoded.image), imageMagickPixels(path, "rgb")) << width << format;
        }
    }
}

TEST_F(ImageDecoders, BmpHeaderVariantsAllDecodeToTheSamePicture) {
    const std::string path = file("v5.bmp");
    imageMagick(quoted(file("plasma.png")) + " -type TrueColor BMP:'" + path + "'");
    const std::vector<uint8_t> v5 = bytesOf(path);
    ASSERT_EQ(getU32(v5, 14), 124u);
    const std::vector<uint8_t> expected = imageMagickPixels(path, "rgb");

    // The same file with a 108-byte info header.
    std::vector<uint8_t> v4 = v5;
    v4.erase(v4.begin() + 14 + 108, v4.begin() + 14 + 124);
    putU32(v4, 14, 108);
    putU32(v4, 10, getU32(v5, 10) - 16);
    putU32(v4, 2, static_cast<uint32_t>(v4.size()));

    // Pixel data placed further on than the headers end, as the file header's offset says.
    std::vector<uint8_t> gap = v5;
    gap.insert(gap.begin() + getU32(v5, 10), 10, 0xEE);
    putU32(gap, 10, getU32(v5, 10) + 10);
    putU32(gap, 2, static_cast<uint32_t>(gap.size()));

    // Top-down: negative height, rows stored top row first.
    std::vector<uint8_t> topDown(v5.begin(), v5.begin() + getU32(v5, 10));
    const size_t stride = (13 * 3 + 3) / 4 * 4;
    for (int row = 6; row >= 0; --row) {
        const auto start = v5.begin() + getU32(v5, 10) + row * stride;
        topDown.insert(topDown.end(), start, start + stride);
    }
    putU32(topDown, 22, static_cast<uint32_t>(-7));

    const std::vector<const std::vector<uint8_t>*> variants = {&v5, &v4, &gap, &topDown};
    for (const std::vector<uint8_t>* variant : variants) {
        writeFile(file("variant.bmp"), std::string(variant->begin(), variant->end()));
        const TdecodedImage decoded = decodeFile(decodeBmp, file("variant.bmp"));
        ASSERT_TRUE(decoded.ok());
        EXPECT_EQ(topRowFirst(decoded.image), expected);
        EXPECT_EQ(imageMagickPixels(file("variant.bmp"), "rgb"), expected);
    }
}

TEST_F(ImageDecoders, JpegMatchesLibjpegsReferenceDecodingAndIsOpaque) {
    const std::vector<std::string> options = {"-quality 90", "-quality 40 -interlace Plane", "-type Grayscale"};
    for (const std::string& option : options) {
        const std::string path = file("picture.jpg");
        imageMagick(quoted(file("plasma.png")) + " " + option + " " + quoted(path));
        const TdecodedImage decoded = decodeJpegFile(path);
        ASSERT_TRUE(decoded.ok()) << option;
        EXPECT_EQ(decoded.image.layout, TpixelLayout::rgba);
        EXPECT_EQ(decoded.image.width, 13u);
        EXPECT_EQ(decoded.image.height, 7u);
        const std::vector<uint8_t> rgba = topRowFirst(decoded.image);
        for (size_t i = 3; i < rgba.size(); i += 4) ASSERT_EQ(rgba[i], 255) << option;
        EXPECT_EQ(withoutAlpha(rgba), libjpegReference(path)) << option;
        EXPECT_EQ(withoutAlpha(rgba), imageMagickPixels(path, "rgb")) << option;
    }
}

TEST(TgaRefusals, HeaderChecksComeInTheirOrder) {
    const std::vector<uint8_t> pixels(12, 0);
    EXPECT_EQ(tgaFault(tgaFile(1, 2, 2, 24, pixels, 1)), TimageFault::tgaType);
    EXPECT_EQ(tgaFault(tgaFile(3, 2, 2, 24, pixels)), TimageFault::tgaType);
    EXPECT_EQ(tgaFault(tgaFile(2, 2, 2, 24, pixels, 1)), TimageFault::tgaColourMap);
    EXPECT_EQ(tgaFault(tgaFile(2, 2, 2, 16, pixels)), TimageFault::tgaDepth);
    EXPECT_EQ(tgaFault(tgaFile(2, 2, 1, 25, pixels)), TimageFault::tgaDepth);
    EXPECT_EQ(tgaFault(tgaFile(10, 1, 1, 40, pixels)), TimageFault::tgaDepth);
    EXPECT_EQ(tgaFault(tgaFile(2, 0, 2, 24, pixels)), TimageFault::badSize);
    EXPECT_EQ(tgaFault(tgaFile(2, 16385, 1, 24, pixels)), TimageFault::badSize);
}

TEST(TgaRefusals, ShortDataIsRefusedWhateverTheHeaderAsksFor) {
    EXPECT_EQ(tgaFault(std::vector<uint8_t>(17, 0)), TimageFault::tgaDataShort);
    EXPECT_EQ(tgaFault(tgaFile(2, 2, 2, 24, std::vector<uint8_t>(11, 0))), TimageFault::tgaDataShort);
    EXPECT_EQ(tgaFault(tgaFile(2, 4096, 4096, 32, std::vector<uint8_t>(64, 0))), TimageFault::tgaDataShort);
    EXPECT_EQ(tgaFault(tgaFile(10, 4096, 4096, 32, std::vector<uint8_t>(64, 0))), TimageFault::tgaDataShort);
    // An identification field longer than the file.
    std::vector<uint8_t> longId = tgaFile(2, 1, 1, 24, {1, 2, 3});
    longId[0] = 200;
    EXPECT_EQ(tgaFault(longId), TimageFault::tgaDataShort);
    // Run-length data that ends before the image is full: one run of 3 of 4 pixels.
    EXPECT_EQ(tgaFault(tgaFile(10, 2, 2, 24, {0x82, 1, 2, 3})), TimageFault::tgaDataShort);
    // A raw packet that announces more pixel bytes than remain.
    EXPECT_EQ(tgaFault(tgaFile(10, 2, 2, 24, {0x03, 1, 2, 3, 4, 5, 6})), TimageFault::tgaDataShort);
}

TEST(TgaRunLength, PacketsReachingPastTheImageStopAtItsEnd) {
    // 2 x 2 pixels: a run of 128, then a raw packet of 4 that is never needed.
    const TdecodedImage run = decodeTga(tgaFile(10, 2, 2, 24, {0xFF, 10, 20, 30, 0x03, 9, 9, 9}).data(), 26);
    ASSERT_TRUE(run.ok());
    EXPECT_EQ(run.image.pixels, std::vector<uint8_t>({30, 20, 10, 30, 20, 10, 30, 20, 10, 30, 20, 10}));
    // One raw pixel, then a raw packet of 4 of which 3 fit; the file ends after those 3.
    const std::vector<uint8_t> raw =
        tgaFile(10, 2, 2, 32, {0x00, 1, 2, 3, 4, 0x03, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16});
    const TdecodedImage cut = decodeTga(raw.data(), raw.size());
    ASSERT_TRUE(cut.ok());
    EXPECT_EQ(cut.image.pixels, std::vector<uint8_t>({3, 2, 1, 4, 7, 6, 5, 8, 11, 10, 9, 12, 15, 14, 13, 16}));
}

TEST(BmpRefusals, UnsupportedVariantsShortFilesAndSizes) {
    TtemporaryFolder folder;
    makePlasma(folder.file("p.png"), 3, 2);
    imageMagick(quoted(folder.file("p.png")) + " -type TrueColor BMP3:'" + folder.file("p.bmp") + "'");
    const std::vector<uint8_t> good = bytesOf(folder.file("p.bmp"));
    ASSERT_EQ(bmpFault(good), TimageFault::none);
    auto changed = [&](size_t at, uint32_t value, int width) {
        std::vector<uint8_t> bytes = good;
        if (width == 2)
            putU16(bytes, at, static_cast<uint16_t>(value));
        else
            putU32(bytes, at, value);
        return bytes;
    };
    EXPECT_EQ(bmpFault(changed(0, 0x4D42 ^ 0x0101, 2)), TimageFault::bmpVariant);  // not "BM"
    EXPECT_EQ(bmpFault(changed(14, 12, 4)), TimageFault::bmpVariant);              // OS/2 core header
    EXPECT_EQ(bmpFault(changed(28, 32, 2)), TimageFault::bmpVariant);
    EXPECT_EQ(bmpFault(changed(28, 8, 2)), TimageFault::bmpVariant);
    EXPECT_EQ(bmpFault(changed(30, 1, 4)), TimageFault::bmpVariant);  // run-length
    EXPECT_EQ(bmpFault(changed(18, 0, 4)), TimageFault::badSize);
    EXPECT_EQ(bmpFault(changed(18, static_cast<uint32_t>(-3), 4)), TimageFault::badSize);
    EXPECT_EQ(bmpFault(changed(22, 0, 4)), TimageFault::badSize);
    EXPECT_EQ(bmpFault(changed(22, 0x80000000u, 4)), TimageFault::badSize);
    EXPECT_EQ(bmpFault(changed(18, 16385, 4)), TimageFault::badSize);
    EXPECT_EQ(bmpFault(changed(46, 1000, 4)), TimageFault::bmpPaletteShort);
    EXPECT_EQ(bmpFault(changed(46, 0xFFFFFFFFu, 4)), TimageFault::bmpPaletteShort);
    EXPECT_EQ(bmpFault(changed(10, 0xFFFFFFF0u, 4)), TimageFault::bmpDataShort);
    EXPECT_EQ(bmpFault(changed(18, 16384, 4)), TimageFault::bmpDataShort);
    EXPECT_EQ(bmpFault(std::vector<uint8_t>(good.begin(), good.end() - 4)), TimageFault::bmpDataShort);
    EXPECT_EQ(bmpFault(std::vector<uint8_t>(good.begin(), good.begin() + 40)), TimageFault::bmpDataShort);
}

TEST(BmpRows, LastRowPaddingMayBeMissing) {
    TtemporaryFolder folder;
    makePlasma(folder.file("p.png"), 3, 2);
    imageMagick(quoted(folder.file("p.png")) + " -type TrueColor BMP3:'" + folder.file("p.bmp") + "'");
    const std::vector<uint8_t> good = bytesOf(folder.file("p.bmp"));
    const std::vector<uint8_t> unpadded(good.begin(), good.end() - 3);
    EXPECT_EQ(decodeBmp(unpadded.data(), unpadded.size()).image.pixels,
              decodeBmp(good.data(), good.size()).image.pixels);
}

TEST(JpegRefusals, BrokenFilesAreRefusedNotFatal) {
    TtemporaryFolder folder;
    makePlasma(folder.file("p.png"), 64, 64);
    imageMagick(quoted(folder.file("p.png")) + " " + quoted(folder.file("p.jpg")));
    const std::vector<uint8_t> good = bytesOf(folder.file("p.jpg"));
    const std::vector<uint8_t> headerOnly(good.begin(), good.begin() + 20);
    EXPECT_EQ(decodeJpeg(headerOnly.data(), headerOnly.size()).fault, TimageFault::jpegError);
    EXPECT_EQ(decodeJpeg(good.data(), 0).fault, TimageFault::jpegError);
    const std::vector<uint8_t> text = {'n', 'o', 't', ' ', 'a', ' ', 'j', 'p', 'g'};
    EXPECT_EQ(decodeJpeg(text.data(), text.size()).fault, TimageFault::jpegError);
    const TdecodedImage truncated = decodeJpeg(good.data(), good.size() * 3 / 4);
    EXPECT_TRUE(truncated.ok());  // libjpeg fills the missing rest, as it does for any viewer
}

TEST(ImageMemoryBound, TheTextureAndItsMipmapsMustFitIn256MiB) {
    EXPECT_TRUE(imageSizeAccepted(4096, 4096));
    EXPECT_TRUE(imageSizeAccepted(8192, 4096));
    EXPECT_TRUE(imageSizeAccepted(16384, 1));
    EXPECT_FALSE(imageSizeAccepted(8192, 8192));
    EXPECT_FALSE(imageSizeAccepted(16384, 16384));
    EXPECT_FALSE(imageSizeAccepted(16385, 1));
    EXPECT_FALSE(imageSizeAccepted(1, 0));
    // Sides are scaled to the nearest power of two: 6143 down to 4096, 6144 up to 8192.
    EXPECT_TRUE(imageSizeAccepted(6143, 6143));
    EXPECT_FALSE(imageSizeAccepted(6144, 6144));
}

TEST(ImageMemoryBound, EveryDecoderRefusesAHugePictureByItsHeaderAlone) {
    const std::vector<uint8_t> pixels(64, 0);
    EXPECT_EQ(tgaFault(tgaFile(2, 16384, 16384, 32, pixels)), TimageFault::badSize);
    EXPECT_EQ(tgaFault(tgaFile(10, 8192, 8192, 24, pixels)), TimageFault::badSize);

    TtemporaryFolder folder;
    makePlasma(folder.file("p.png"), 8, 8);
    imageMagick(quoted(folder.file("p.png")) + " -type TrueColor BMP3:'" + folder.file("p.bmp") + "'");
    std::vector<uint8_t> bmp = bytesOf(folder.file("p.bmp"));
    putU32(bmp, 18, 16384);
    putU32(bmp, 22, 16384);
    EXPECT_EQ(bmpFault(bmp), TimageFault::badSize);

    imageMagick(quoted(folder.file("p.png")) + " " + quoted(folder.file("p.jpg")));
    const std::vector<uint8_t> jpeg = jpegAnnouncing(bytesOf(folder.file("p.jpg")), 16384, 16384);
    EXPECT_EQ(decodeJpeg(jpeg.data(), jpeg.size()).fault, TimageFault::badSize);
}

// Fuzz target: any bytes as a song name fold without failing, and any image the TGA decoder
// accepts becomes a jacket with every mipmap level of its size.
#include <cstdlib>
#include <string_view>

#include "content/jacketImage.h"
#include "content/songSearch.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    // No character folds to more than two letters, and none of them is longer than its bytes.
    if (foldForSearch(bytes).size() > 2 * size) std::abort();
    const TdecodedImage decoded = decodeTga(data, size);
    if (!decoded.ok()) return 0;
    constexpr uint32_t side = 16;
    const TjacketImage jacket = prepareJacket(decoded.image, side);
    const size_t channels = decoded.image.layout == TpixelLayout::rgba ? 4 : 3;
    uint32_t levelSide = side;
    for (const std::vector<uint8_t>& level : jacket.levels) {
        if (level.size() != size_t{levelSide} * levelSide * channels) std::abort();
        levelSide = levelSide > 1 ? levelSide / 2 : 1;
    }
    return 0;
}

// Geometric transformations of 2D images: mirrors, quarter turns, transposition,
// free rotation, resizing, reframing and cutting into tiles. Each makes a new image
// of the source's sample type and leaves the source as it was.
#pragma once

#include "data/block.h"

#include <cstdint>
#include <string>
#include <vector>

namespace vexa::processing {

// A 2D image in memory: width x height samples of one type, row-major.
struct Image2d {
    int width = 0;
    int height = 0;
    int type = TYPEDATA_U8;
    SampleBuffer samples;

    std::int64_t sampleCount() const { return std::int64_t(width) * std::int64_t(height); }
};

// Largest result accepted, in samples: the array library counts samples in ints.
constexpr std::int64_t kMaxImageSamples = 0x7fffffff;

// Checks that a width x height image of type can be made; reason (French) says why
// not.
bool imageSizeValid(std::int64_t width, std::int64_t height, int type, std::string* reason);
// A zero-filled image; false with a reason when the size is refused or memory runs
// out.
bool allocateImage(
    Image2d& image, std::int64_t width, std::int64_t height, int type, std::string* reason);

// Mirrors and quarter turns of the array library.
enum ImageMove : int {
    MOVE_MIRROR_HORIZONTAL = 1,
    MOVE_MIRROR_VERTICAL = 2,
    MOVE_ROTATE_90 = 3, // +90 degrees: an H x W image
    MOVE_ROTATE_180 = 4,
    MOVE_ROTATE_270 = 5, // -90 degrees: an H x W image
};
// False with a reason for another move.
bool mirrorOrTurn(const Image2d& source, int move, Image2d& result, std::string* reason);
// result (y, x) = source (x, y): an H x W image.
bool transposeImage(const Image2d& source, Image2d& result, std::string* reason);
// Repairs an image read with width and height exchanged: the samples are taken as an
// H-wide, W-high array and transposed into W x H.
bool exchangeWidthHeight(const Image2d& source, Image2d& result, std::string* reason);

// Turns the image by degrees about its centre (nearest sample) into the array that
// holds the turned corners; samples whose source falls outside are 0.
bool rotateImage(const Image2d& source, double degrees, Image2d& result, std::string* reason);
// Nearest-sample resize to newWidth x newHeight.
bool resizeImage(
    const Image2d& source, int newWidth, int newHeight, Image2d& result, std::string* reason);

// Positive left and top remove columns and rows, positive right and bottom add zero
// ones; negative values do the opposite. The result is W - left + right wide and
// H - top + bottom high.
struct Margins {
    int left = 0, right = 0, top = 0, bottom = 0;
};
bool reframeImage(
    const Image2d& source, const Margins& margins, Image2d& result, std::string* reason);

// One tile of a split: its top-left sample and size in the source.
struct TileRect {
    int x = 0, y = 0, width = 0, height = 0;
};
// Tiles of a W x H image cut into countX x countY (1 to 5 each), overlapping by
// borderX and borderY samples and clipped to the image, column by column (all rows
// of column 0 first). False with a reason when a count is outside 1..5, a border is
// negative or a tile would be empty (an image narrower than its tile count).
bool splitTiles(int width, int height, int countX, int countY, int borderX, int borderY,
    std::vector<TileRect>& tiles, std::string* reason);
bool extractTile(const Image2d& source, const TileRect& tile, Image2d& result, std::string* reason);

} // namespace vexa::processing

#include "processing/transform2d.h"

#include "processing/valueoperators.h"
#include "vexamem.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <new>

namespace vexa::processing {

namespace {

bool fail(std::string* reason, const std::string& text)
{
    if (reason)
        *reason = text;
    return false;
}

std::size_t imageBytes(const Image2d& image)
{
    return std::size_t(image.sampleCount()) * std::size_t(vexaTypeSize(image.type));
}

bool sourceValid(const Image2d& source, std::string* reason)
{
    if (source.width <= 0 || source.height <= 0 || !vexaTypeIsValid(source.type))
        return fail(reason, "Image source vide ou de type inconnu");
    if (!source.samples || source.samples.size() < imageBytes(source))
        return fail(reason, "Image source sans échantillons");
    return true;
}

// Runs op on the samples as doubles (scalar types) and stores the result in the
// source's type with scale 1 and offset 0. Colour samples go channel by channel, so
// that a turned or resized colour image keeps its colours instead of reading as 0.
bool throughDoubles(const Image2d& source, std::int64_t width, std::int64_t height, Image2d& result,
    std::string* reason, const std::function<void(const double* in, double* out)>& op)
{
    if (!sourceValid(source, reason) || !allocateImage(result, width, height, source.type, reason))
        return false;
    const std::size_t inCount = std::size_t(source.sampleCount());
    const std::size_t outCount = std::size_t(result.sampleCount());
    try {
        std::vector<double> in(inCount);
        std::vector<double> out(outCount);
        if (source.type != TYPEDATA_RGBA) {
            vexaMemConvertInto(source.samples.data(), int(inCount), 1.0, 0.0, source.type,
                TYPEDATA_F64, in.data());
            op(in.data(), out.data());
            vexaMemConvertInto(out.data(), int(outCount), 1.0, 0.0, TYPEDATA_F64, result.type,
                result.samples.data());
            return true;
        }
        const std::uint8_t* src = source.samples.bytes();
        std::uint8_t* dst = result.samples.bytes();
        for (int channel = 0; channel < 4; ++channel) {
            for (std::size_t i = 0; i < inCount; ++i)
                in[i] = src[4 * i + std::size_t(channel)];
            std::fill(out.begin(), out.end(), 0.0);
            op(in.data(), out.data());
            for (std::size_t i = 0; i < outCount; ++i)
                dst[4 * i + std::size_t(channel)] = std::uint8_t(std::clamp(out[i], 0.0, 255.0));
        }
        return true;
    } catch (const std::bad_alloc&) {
        result = Image2d();
        return fail(reason, "Mémoire insuffisante");
    }
}

} // namespace

bool imageSizeValid(std::int64_t width, std::int64_t height, int type, std::string* reason)
{
    if (!vexaTypeIsValid(type))
        return fail(reason, "Type d'échantillon inconnu");
    if (width <= 0 || height <= 0)
        return fail(reason,
            "Taille d'image incorrecte : " + std::to_string(width) + " x "
                + std::to_string(height));
    if (width > kMaxImageSamples || height > kMaxImageSamples || width * height > kMaxImageSamples)
        return fail(reason,
            "Image trop grande : " + std::to_string(width) + " x " + std::to_string(height));
    return true;
}

bool allocateImage(
    Image2d& image, std::int64_t width, std::int64_t height, int type, std::string* reason)
{
    image = Image2d();
    if (!imageSizeValid(width, height, type, reason))
        return false;
    std::size_t bytes = std::size_t(width * height) * std::size_t(vexaTypeSize(type));
    if (!image.samples.allocate(bytes))
        return fail(reason,
            "Mémoire insuffisante pour une image de " + std::to_string(width) + " x "
                + std::to_string(height));
    image.width = int(width);
    image.height = int(height);
    image.type = type;
    return true;
}

bool mirrorOrTurn(const Image2d& source, int move, Image2d& result, std::string* reason)
{
    using Operation = void (*)(const void*, int, int, int, void*);
    Operation operation = nullptr;
    bool turned = false;
    switch (move) {
    case MOVE_MIRROR_HORIZONTAL:
        operation = vexaMemSwapHorizontal;
        break;
    case MOVE_MIRROR_VERTICAL:
        operation = vexaMemSwapVertical;
        break;
    case MOVE_ROTATE_90:
        operation = vexaMemRotate90;
        turned = true;
        break;
    case MOVE_ROTATE_180:
        operation = vexaMemRotate180;
        break;
    case MOVE_ROTATE_270:
        operation = vexaMemRotate270;
        turned = true;
        break;
    default:
        return fail(reason, "Opération inconnue");
    }
    if (!sourceValid(source, reason))
        return false;
    const int w = turned ? source.height : source.width;
    const int h = turned ? source.width : source.height;
    if (!allocateImage(result, w, h, source.type, reason))
        return false;
    operation(
        source.samples.data(), source.width, source.height, source.type, result.samples.data());
    return true;
}

bool transposeImage(const Image2d& source, Image2d& result, std::string* reason)
{
    if (!sourceValid(source, reason)
        || !allocateImage(result, source.height, source.width, source.type, reason))
        return false;
    std::memcpy(result.samples.data(), source.samples.data(), imageBytes(source));
    vexaMemTranspose(result.samples.data(), source.type, source.width, source.height);
    return true;
}

bool exchangeWidthHeight(const Image2d& source, Image2d& result, std::string* reason)
{
    if (!sourceValid(source, reason)
        || !allocateImage(result, source.width, source.height, source.type, reason))
        return false;
    std::memcpy(result.samples.data(), source.samples.data(), imageBytes(source));
    vexaMemTranspose(result.samples.data(), source.type, source.height, source.width);
    return true;
}

bool rotateImage(const Image2d& source, double degrees, Image2d& result, std::string* reason)
{
    if (!std::isfinite(degrees))
        return fail(reason, "Angle incorrect");
    if (!sourceValid(source, reason))
        return false;
    const double angle = degrees * kPi / 180.0;
    int w = 0, h = 0;
    vexaMemRotateComputeDim(source.width, source.height, angle, &w, &h);
    return throughDoubles(source, w, h, result, reason, [&](const double* in, double* out) {
        vexaMemRotate(in, source.width, source.height, out, angle);
    });
}

bool resizeImage(
    const Image2d& source, int newWidth, int newHeight, Image2d& result, std::string* reason)
{
    return throughDoubles(
        source, newWidth, newHeight, result, reason, [&](const double* in, double* out) {
            vexaMemResize(in, source.width, source.height, out, newWidth, newHeight);
        });
}

bool reframeImage(
    const Image2d& source, const Margins& margins, Image2d& result, std::string* reason)
{
    if (!sourceValid(source, reason))
        return false;
    const std::int64_t w = std::int64_t(source.width) - margins.left + margins.right;
    const std::int64_t h = std::int64_t(source.height) - margins.top + margins.bottom;
    if (!allocateImage(result, w, h, source.type, reason))
        return false;
    // Source columns x with 0 <= x - left < w, rows likewise; the rest stays 0.
    const std::int64_t x0 = std::max<std::int64_t>(0, margins.left);
    const std::int64_t x1 = std::min<std::int64_t>(source.width, w + margins.left);
    const std::int64_t y0 = std::max<std::int64_t>(0, margins.top);
    const std::int64_t y1 = std::min<std::int64_t>(source.height, h + margins.top);
    if (x0 >= x1 || y0 >= y1)
        return true;
    const std::size_t element = std::size_t(vexaTypeSize(source.type));
    const std::size_t rowBytes = std::size_t(x1 - x0) * element;
    for (std::int64_t y = y0; y < y1; ++y) {
        const std::uint8_t* from = source.samples.bytes()
            + (std::size_t(y) * std::size_t(source.width) + std::size_t(x0)) * element;
        std::uint8_t* to = result.samples.bytes()
            + (std::size_t(y - margins.top) * std::size_t(w) + std::size_t(x0 - margins.left))
                * element;
        std::memcpy(to, from, rowBytes);
    }
    return true;
}

bool splitTiles(int width, int height, int countX, int countY, int borderX, int borderY,
    std::vector<TileRect>& tiles, std::string* reason)
{
    tiles.clear();
    if (width <= 0 || height <= 0)
        return fail(reason, "Image vide");
    if (countX < 1 || countX > 5 || countY < 1 || countY > 5)
        return fail(reason, "Découpage incorrect");
    if (borderX < 0 || borderY < 0)
        return fail(reason, "Les bordures doivent être positives ou nulles");
    if (width < countX || height < countY)
        return fail(reason,
            "Image trop petite pour " + std::to_string(countX) + " x " + std::to_string(countY)
                + " morceaux");
    const std::int64_t W = width, H = height, nx = countX, ny = countY;
    for (std::int64_t i = 0; i < nx; ++i) {
        const std::int64_t x0 = std::max<std::int64_t>(0, i * W / nx - borderX);
        const std::int64_t x1 = std::min<std::int64_t>(W - 1, (i + 1) * W / nx + borderX - 1);
        for (std::int64_t j = 0; j < ny; ++j) {
            const std::int64_t y0 = std::max<std::int64_t>(0, j * H / ny - borderY);
            const std::int64_t y1 = std::min<std::int64_t>(H - 1, (j + 1) * H / ny + borderY - 1);
            tiles.push_back({ int(x0), int(y0), int(x1 - x0 + 1), int(y1 - y0 + 1) });
        }
    }
    return true;
}

bool extractTile(const Image2d& source, const TileRect& tile, Image2d& result, std::string* reason)
{
    if (!sourceValid(source, reason))
        return false;
    if (tile.x < 0 || tile.y < 0 || tile.width <= 0 || tile.height <= 0
        || std::int64_t(tile.x) + tile.width > source.width
        || std::int64_t(tile.y) + tile.height > source.height)
        return fail(reason, "Morceau hors de l'image");
    void* samples = vexaMemExtract(source.samples.data(), source.width, source.height, tile.x,
        tile.y, tile.width, tile.height, source.type);
    if (!samples)
        return fail(reason, "Mémoire insuffisante");
    result = Image2d();
    result.width = tile.width;
    result.height = tile.height;
    result.type = source.type;
    result.samples.adopt(samples,
        std::size_t(tile.width) * std::size_t(tile.height)
            * std::size_t(vexaTypeSize(source.type)));
    return true;
}

} // namespace vexa::processing

#include "views/displaybuffer.h"

#include "vexa_types.h"
#include "vexamem.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace vexa {

namespace {

constexpr double kKernelShare = 0.95;

template <typename T> inline double sampleValue(const T* p)
{
    return static_cast<double>(*p);
}

// Levels of n samples into dst (one byte each).
template <typename T>
void levelsRow(const T* src, int n, double gain, double offset, std::uint8_t* dst)
{
    for (int i = 0; i < n; ++i)
        dst[i] = displayLevel(sampleValue(src + i), gain, offset);
}

// A lookup table is cheaper than the arithmetic once the table is reused enough.
template <typename T>
void levelsRowLut(const T* src, int n, const std::uint8_t* lut, std::uint8_t* dst)
{
    for (int i = 0; i < n; ++i) {
        if constexpr (sizeof(T) == 1)
            dst[i] = lut[static_cast<std::uint8_t>(src[i])];
        else
            dst[i] = lut[static_cast<std::uint16_t>(src[i])];
    }
}

template <typename T> void fillLut(std::vector<std::uint8_t>& lut, double gain, double offset)
{
    const int entries = sizeof(T) == 1 ? 256 : 65536;
    lut.resize(std::size_t(entries));
    for (int i = 0; i < entries; ++i) {
        T v;
        if constexpr (sizeof(T) == 1) {
            const std::uint8_t bits = static_cast<std::uint8_t>(i);
            std::memcpy(&v, &bits, 1);
        } else {
            const std::uint16_t bits = static_cast<std::uint16_t>(i);
            std::memcpy(&v, &bits, 2);
        }
        lut[std::size_t(i)] = displayLevel(static_cast<double>(v), gain, offset);
    }
}

// Turns the n samples of one image row into n levels (scalar) or n blue-green-red
// triples (RGBA).
class RowConverter {
public:
    RowConverter(const DisplayRequest& r, std::int64_t sampleCount)
        : r_(r)
    {
        if (r.type == TYPEDATA_RGBA || r.labelPalette)
            return;
        const bool identity = r.gain == 1.0 && r.offset == 0.0;
        switch (r.type) {
        case TYPEDATA_U8:
            if (identity)
                copy_ = true;
            else
                fillLut<std::uint8_t>(lut_, r.gain, r.offset);
            break;
        case TYPEDATA_S8:
            fillLut<std::int8_t>(lut_, r.gain, r.offset);
            break;
        case TYPEDATA_U16:
            if (sampleCount >= 65536)
                fillLut<std::uint16_t>(lut_, r.gain, r.offset);
            break;
        case TYPEDATA_S16:
            if (sampleCount >= 65536)
                fillLut<std::int16_t>(lut_, r.gain, r.offset);
            break;
        default:
            break;
        }
    }

    void convert(const std::uint8_t* src, int n, std::uint8_t* dst)
    {
        if (r_.type == TYPEDATA_RGBA) {
            for (int i = 0; i < n; ++i) {
                dst[3 * i] = src[4 * i + 2];
                dst[3 * i + 1] = src[4 * i + 1];
                dst[3 * i + 2] = src[4 * i];
            }
            return;
        }
        if (r_.labelPalette) {
            labels_.resize(std::size_t(n));
            vexaMemConvertInto(src, n, r_.gain, r_.offset, r_.type, TYPEDATA_S32, labels_.data());
            for (int i = 0; i < n; ++i)
                dst[i] = labelLevel(labels_[std::size_t(i)]);
            return;
        }
        if (copy_) {
            std::memcpy(dst, src, std::size_t(n));
            return;
        }
        const double g = r_.gain, o = r_.offset;
        switch (r_.type) {
        case TYPEDATA_U8:
            levelsRowLut(src, n, lut_.data(), dst);
            break;
        case TYPEDATA_S8:
            levelsRowLut(reinterpret_cast<const std::int8_t*>(src), n, lut_.data(), dst);
            break;
        case TYPEDATA_U16:
            if (!lut_.empty())
                levelsRowLut(reinterpret_cast<const std::uint16_t*>(src), n, lut_.data(), dst);
            else
                levelsRow(reinterpret_cast<const std::uint16_t*>(src), n, g, o, dst);
            break;
        case TYPEDATA_S16:
            if (!lut_.empty())
                levelsRowLut(reinterpret_cast<const std::int16_t*>(src), n, lut_.data(), dst);
            else
                levelsRow(reinterpret_cast<const std::int16_t*>(src), n, g, o, dst);
            break;
        case TYPEDATA_U32:
            levelsRow(reinterpret_cast<const std::uint32_t*>(src), n, g, o, dst);
            break;
        case TYPEDATA_S32:
            levelsRow(reinterpret_cast<const std::int32_t*>(src), n, g, o, dst);
            break;
        case TYPEDATA_F32:
            levelsRow(reinterpret_cast<const float*>(src), n, g, o, dst);
            break;
        case TYPEDATA_F64:
            levelsRow(reinterpret_cast<const double*>(src), n, g, o, dst);
            break;
        default:
            std::memset(dst, 0, std::size_t(n));
        }
    }

private:
    const DisplayRequest& r_;
    bool copy_ = false;
    std::vector<std::uint8_t> lut_;
    std::vector<std::int32_t> labels_;
};

void putLe16(std::uint8_t* p, int v)
{
    p[0] = std::uint8_t(v & 0xFF);
    p[1] = std::uint8_t((v >> 8) & 0xFF);
}

void putLe32(std::uint8_t* p, std::int64_t v)
{
    const auto u = static_cast<std::uint32_t>(v);
    for (int i = 0; i < 4; ++i)
        p[i] = std::uint8_t((u >> (8 * i)) & 0xFF);
}

std::uint8_t roundToByte(double v)
{
    if (!(v > 0))
        return 0;
    if (v >= 255)
        return 255;
    return static_cast<std::uint8_t>(v + 0.5);
}

} // namespace

int displayStride(int pixels, int bytesPerPixel)
{
    return (pixels * bytesPerPixel + 3) & ~3;
}

int magnification(double zoom)
{
    return zoom >= 1 ? static_cast<int>(std::min(zoom, 65536.0)) : 1;
}

std::uint8_t displayLevel(double value, double gain, double offset)
{
    const double product = gain * value;
    return roundToByte(product + offset);
}

std::uint8_t labelLevel(std::int32_t value)
{
    if (value == 0)
        return 0;
    // The remainder of a negative label is negative: its byte wraps, as a C cast does.
    const std::int32_t wrapped = (value - 1) % 255 + 1;
    return static_cast<std::uint8_t>(wrapped);
}

double dericheAlpha(double zoom)
{
    auto f
        = [zoom](double a) { return 1.0 - (1.0 + a * zoom) * std::exp(-a * zoom) - kKernelShare; };
    double low = 0.0, high = 10.0, mid = 5.0;
    while (high - low > 0.001) {
        mid = 0.5 * (low + high);
        const double fl = f(low), fm = f(mid);
        if ((fl >= 0) == (fm >= 0))
            low = mid;
        else
            high = mid;
    }
    return mid;
}

void dericheSmoothLine(double* line, int n, double alpha)
{
    if (n <= 0)
        return;
    const double e = std::exp(-alpha);
    const double e2 = e * e;
    const double k = (1 - e) * (1 - e) / (1 + 2 * alpha * e - e2);
    const double a0 = k, a1 = k * (alpha - 1) * e;
    const double b1 = k * (alpha + 1) * e, b2 = -k * e2;
    const double denominator = 1 - 2 * e + e2;
    std::vector<double> forward(std::size_t(n), 0.0);
    // The line continues with its end value on both sides: the recursions start from
    // their steady state for that value.
    double x1 = line[0];
    double y1 = line[0] * (a0 + a1) / denominator, y2 = y1;
    for (int i = 0; i < n; ++i) {
        const double x = line[i];
        const double y = a0 * x + a1 * x1 + 2 * e * y1 - e2 * y2;
        forward[std::size_t(i)] = y;
        x1 = x;
        y2 = y1;
        y1 = y;
    }
    const double last = line[n - 1];
    double xn1 = last, xn2 = last;
    double yn1 = last * (b1 + b2) / denominator, yn2 = yn1;
    for (int i = n - 1; i >= 0; --i) {
        const double y = b1 * xn1 + b2 * xn2 + 2 * e * yn1 - e2 * yn2;
        xn2 = xn1;
        xn1 = line[i];
        yn2 = yn1;
        yn1 = y;
        line[i] = forward[std::size_t(i)] + y;
    }
}

void smoothDisplayBitmap(DisplayBitmap& bitmap, int zx, int zy)
{
    if (!bitmap.ready || bitmap.bytesPerPixel != 1 || bitmap.width <= 0 || bitmap.height <= 0)
        return;
    const int w = bitmap.width, h = bitmap.height, stride = bitmap.stride;
    const double ax = dericheAlpha(std::max(zx, 1));
    const double ay = dericheAlpha(std::max(zy, 1));
    // The row pass keeps full precision for the column pass; only the result is rounded.
    std::vector<float> rows(std::size_t(w) * std::size_t(h));
    std::vector<double> line(std::size_t(std::max(w, h)));
    for (int y = 0; y < h; ++y) {
        const std::uint8_t* src = bitmap.bits.data() + std::size_t(y) * std::size_t(stride);
        for (int x = 0; x < w; ++x)
            line[std::size_t(x)] = src[x];
        dericheSmoothLine(line.data(), w, ax);
        float* dst = rows.data() + std::size_t(y) * std::size_t(w);
        for (int x = 0; x < w; ++x)
            dst[x] = static_cast<float>(line[std::size_t(x)]);
    }
    for (int x = 0; x < w; ++x) {
        for (int y = 0; y < h; ++y)
            line[std::size_t(y)] = rows[std::size_t(y) * std::size_t(w) + std::size_t(x)];
        dericheSmoothLine(line.data(), h, ay);
        for (int y = 0; y < h; ++y)
            bitmap.bits[std::size_t(y) * std::size_t(stride) + std::size_t(x)]
                = roundToByte(line[std::size_t(y)]);
    }
}

void buildDisplayHeader(int width, int height, int bytesPerPixel, const DisplayColours* colours,
    std::vector<std::uint8_t>& header)
{
    const bool indexed = bytesPerPixel == 1;
    header.assign(40 + (indexed ? 1024 : 0), 0);
    std::uint8_t* p = header.data();
    putLe32(p, 40);
    putLe32(p + 4, width);
    putLe32(p + 8, height); // positive: bottom-up
    putLe16(p + 12, 1);
    putLe16(p + 14, indexed ? 8 : 24);
    putLe32(p + 16, 0); // uncompressed
    putLe32(p + 20, std::int64_t(displayStride(width, bytesPerPixel)) * height);
    putLe32(p + 32, 256); // colours used
    if (!indexed)
        return;
    for (int i = 0; i < 256; ++i) {
        std::uint8_t* entry = p + 40 + 4 * i;
        if (colours) {
            std::memcpy(entry, (*colours)[std::size_t(i)].data(), 4);
        } else {
            entry[0] = entry[1] = entry[2] = std::uint8_t(i);
            entry[3] = 0;
        }
    }
}

bool buildDisplayBitmap(const DisplayRequest& r, DisplayBitmap& out)
{
    out = DisplayBitmap {};
    if (!r.samples || r.width <= 0 || r.height <= 0 || !vexaTypeIsValid(r.type))
        return false;
    if (r.visibleW <= 0 || r.visibleH <= 0 || r.zx < 1 || r.zy < 1)
        return false;
    const int bpp = r.type == TYPEDATA_RGBA ? 3 : 1;
    const std::int64_t displayW = std::int64_t(r.visibleW) * r.zx;
    const std::int64_t displayH = std::int64_t(r.visibleH) * r.zy;
    if (displayW > (std::int64_t(1) << 28) / 4 || displayW * displayH > kMaxDisplayPixels)
        return false;
    out.width = static_cast<int>(displayW);
    out.height = static_cast<int>(displayH);
    out.bytesPerPixel = bpp;
    out.stride = displayStride(out.width, bpp);
    out.bits.assign(std::size_t(out.stride) * std::size_t(out.height), 0);

    // The part of the rectangle inside the image.
    const std::int64_t x0 = std::max<std::int64_t>(r.originX, 0);
    const std::int64_t x1 = std::min<std::int64_t>(std::int64_t(r.originX) + r.visibleW, r.width);
    const std::int64_t y0 = std::max<std::int64_t>(r.originY, 0);
    const std::int64_t y1 = std::min<std::int64_t>(std::int64_t(r.originY) + r.visibleH, r.height);
    if (x0 < x1 && y0 < y1) {
        const int n = static_cast<int>(x1 - x0);
        const std::size_t es = std::size_t(vexaTypeSize(r.type));
        RowConverter converter(r, std::int64_t(n) * (y1 - y0));
        std::vector<std::uint8_t> levels(std::size_t(n) * std::size_t(bpp));
        const std::size_t pixelOffset
            = std::size_t(x0 - r.originX) * std::size_t(r.zx) * std::size_t(bpp);
        const std::size_t pixelBytes = std::size_t(n) * std::size_t(r.zx) * std::size_t(bpp);
        for (std::int64_t y = y0; y < y1; ++y) {
            const auto* src = static_cast<const std::uint8_t*>(r.samples)
                + (std::size_t(y) * std::size_t(r.width) + std::size_t(x0)) * es;
            const int top = static_cast<int>((y - r.originY) * r.zy);
            std::uint8_t* first = out.bits.data()
                + std::size_t(out.height - 1 - top) * std::size_t(out.stride) + pixelOffset;
            if (r.zx == 1) {
                converter.convert(src, n, first);
            } else {
                converter.convert(src, n, levels.data());
                std::uint8_t* d = first;
                if (bpp == 1) {
                    for (int i = 0; i < n; ++i) {
                        std::memset(d, levels[std::size_t(i)], std::size_t(r.zx));
                        d += r.zx;
                    }
                } else {
                    for (int i = 0; i < n; ++i)
                        for (int k = 0; k < r.zx; ++k, d += 3)
                            std::memcpy(d, &levels[std::size_t(i) * 3], 3);
                }
            }
            // Rows further down the image are further up the bottom-up buffer.
            for (int k = 1; k < r.zy; ++k)
                std::memcpy(first - std::size_t(k) * std::size_t(out.stride), first, pixelBytes);
        }
    }
    out.ready = true;
    if (r.smooth && bpp == 1)
        smoothDisplayBitmap(out, r.zx, r.zy);
    buildDisplayHeader(out.width, out.height, bpp, r.colours, out.header);
    return true;
}

} // namespace vexa

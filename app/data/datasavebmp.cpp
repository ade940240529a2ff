#include "data/datasavebmp.h"

#include <cstdio>
#include <cstring>
#include <memory>
#include <vector>

// The writer is compiled here with internal linkage, so it can never clash with a
// copy that another library carries.
#define STB_IMAGE_WRITE_STATIC
#define STB_IMAGE_WRITE_IMPLEMENTATION
#define STBI_WRITE_NO_STDIO
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wunused-function"
#pragma GCC diagnostic ignored "-Wmissing-field-initializers"
#pragma GCC diagnostic ignored "-Wsign-compare"
#include <stb/stb_image_write.h>
#pragma GCC diagnostic pop

namespace vexa {

namespace {

struct FileCloser {
    void operator()(std::FILE* f) const { std::fclose(f); }
};

// A file whose every write is checked, closing included.
class CheckedFile {
public:
    explicit CheckedFile(const std::string& path)
        : file_(std::fopen(path.c_str(), "wb"))
    {
    }
    bool isOpen() const { return file_ != nullptr; }
    void write(const void* data, std::size_t bytes)
    {
        if (ok_ && bytes && std::fwrite(data, 1, bytes, file_.get()) != bytes)
            ok_ = false;
    }
    bool close()
    {
        if (!file_)
            return false;
        bool closed = std::fclose(file_.release()) == 0;
        return ok_ && closed;
    }

private:
    std::unique_ptr<std::FILE, FileCloser> file_;
    bool ok_ = true;
};

void putLe16(std::uint8_t* p, std::uint32_t v)
{
    p[0] = std::uint8_t(v);
    p[1] = std::uint8_t(v >> 8);
}

void putLe32(std::uint8_t* p, std::uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        p[i] = std::uint8_t(v >> (8 * i));
}

// Pixel rows are padded to 4 bytes; the whole file must stay below 2 GiB so its
// size fits the header's field for every reader.
bool bmpSizeFits(
    int width, int height, int bytesPerPixel, std::uint64_t extra, std::uint64_t* rowBytes)
{
    if (width <= 0 || height <= 0)
        return false;
    const std::uint64_t row = (std::uint64_t(width) * std::uint64_t(bytesPerPixel) + 3) / 4 * 4;
    if (row * std::uint64_t(height) + extra >= (std::uint64_t(1) << 31))
        return false;
    *rowBytes = row;
    return true;
}

void writeToFile(void* context, void* data, int size)
{
    static_cast<CheckedFile*>(context)->write(data, std::size_t(size > 0 ? size : 0));
}

} // namespace

bool writeBmpGrey(const std::string& path, const std::uint8_t* pixels, int width, int height)
{
    constexpr std::uint32_t kHeaderBytes = 14 + 40 + 256 * 4;
    std::uint64_t rowBytes = 0;
    if (!pixels || !bmpSizeFits(width, height, 1, kHeaderBytes, &rowBytes))
        return false;
    const std::uint32_t imageBytes = std::uint32_t(rowBytes * std::uint64_t(height));
    std::uint8_t header[kHeaderBytes] = {};
    header[0] = 'B';
    header[1] = 'M';
    putLe32(header + 2, kHeaderBytes + imageBytes);
    putLe32(header + 10, kHeaderBytes);
    putLe32(header + 14, 40);
    putLe32(header + 18, std::uint32_t(width));
    putLe32(header + 22, std::uint32_t(height)); // positive: rows stored bottom-up
    putLe16(header + 26, 1);
    putLe16(header + 28, 8);
    putLe32(header + 34, imageBytes);
    putLe32(header + 38, 2835); // 72 dpi
    putLe32(header + 42, 2835);
    putLe32(header + 46, 256);
    for (int i = 0; i < 256; ++i) {
        std::uint8_t* entry = header + 54 + 4 * i;
        entry[0] = entry[1] = entry[2] = std::uint8_t(i);
    }
    CheckedFile file(path);
    if (!file.isOpen())
        return false;
    file.write(header, sizeof header);
    std::vector<std::uint8_t> row(rowBytes, 0);
    for (int y = height - 1; y >= 0; --y) {
        std::memcpy(row.data(), pixels + std::size_t(y) * std::size_t(width), std::size_t(width));
        file.write(row.data(), row.size());
    }
    return file.close();
}

bool writeBmpColour(const std::string& path, const std::uint8_t* rgba, int width, int height)
{
    std::uint64_t rowBytes = 0;
    if (!rgba || !bmpSizeFits(width, height, 3, 54, &rowBytes))
        return false;
    const std::size_t count = std::size_t(width) * std::size_t(height);
    std::vector<std::uint8_t> rgb(count * 3);
    for (std::size_t i = 0; i < count; ++i) {
        rgb[3 * i + 0] = rgba[4 * i + 0];
        rgb[3 * i + 1] = rgba[4 * i + 1];
        rgb[3 * i + 2] = rgba[4 * i + 2];
    }
    CheckedFile file(path);
    if (!file.isOpen())
        return false;
    int written = stbi_write_bmp_to_func(writeToFile, &file, width, height, 3, rgb.data());
    return file.close() && written != 0;
}

} // namespace vexa

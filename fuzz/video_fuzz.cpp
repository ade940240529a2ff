// Films of any bytes: a film that opens has a frame count and sizes within bounds, its
// first and last frames decode to whole pictures or fail with a reason, and frames
// outside the film are refused.
// With VEXA_FUZZ_SEEDS=<folder> the entry point instead writes a few tiny films there
// through the film writer and exits: the corpus then starts from real containers.
#include "fuzzscratch.h"
#include "video/filmreader.h"
#include "video/filmwriter.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <vector>

namespace {

// Pictures above this many pixels are opened and counted but not decoded: converting
// one takes longer than a fuzzer input may.
constexpr long kMaxDecodedPixels = 512L * 512L;

void writeSeed(const std::string& path, int width, int height, int frames)
{
    std::string reason;
    auto writer = vexa::video::FilmWriter::open({ path, width, height, 5.0 }, reason);
    if (!writer) {
        std::fprintf(stderr, "%s\n", reason.c_str());
        return;
    }
    std::vector<std::uint8_t> rgba(std::size_t(width) * std::size_t(height) * 4);
    for (int f = 0; f < frames; ++f) {
        for (std::size_t i = 0; i < rgba.size(); ++i)
            rgba[i] = std::uint8_t(i * 7 + std::size_t(f) * 91);
        if (!writer->addFrameRgba(rgba.data(), width * 4, reason))
            std::fprintf(stderr, "%s\n", reason.c_str());
    }
    if (!writer->close(reason))
        std::fprintf(stderr, "%s\n", reason.c_str());
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    const char* seeds = std::getenv("VEXA_FUZZ_SEEDS");
    if (!seeds || !*seeds)
        return 0;
    const std::string dir(seeds);
    writeSeed(dir + "/two.avi", 16, 16, 2);
    writeSeed(dir + "/two.mp4", 16, 16, 2);
    writeSeed(dir + "/odd.avi", 5, 3, 2);
    writeSeed(dir + "/one.mp4", 8, 8, 1);
    writeSeed(dir + "/many.mp4", 8, 8, 12);
    std::exit(0);
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    using namespace vexa::video;
    static const std::string path = fuzzscratch::folder().file("film.avi");
    if (!fuzzscratch::put(path, data, size))
        return 0;
    std::string reason;
    std::unique_ptr<FilmReader> film = FilmReader::open(path, reason);
    if (!film) {
        if (reason.empty())
            __builtin_trap();
        return 0;
    }
    const int count = film->frameCount();
    if (count < 1 || film->width() < 1 || film->height() < 1 || film->width() > kMaxFilmSide
        || film->height() > kMaxFilmSide)
        __builtin_trap();
    volatile double seconds = film->frameTime(count - 1) + film->durationSeconds();
    (void)seconds;

    std::vector<std::uint8_t> rgba;
    if (film->decodeFrame(count, rgba, reason) || film->decodeFrame(-1, rgba, reason))
        __builtin_trap();
    if (long(film->width()) * film->height() > kMaxDecodedPixels)
        return 0;
    const std::size_t bytes = std::size_t(film->width()) * std::size_t(film->height()) * 4;
    for (int n : { 0, count - 1, 0 }) {
        rgba.clear();
        reason.clear();
        if (film->decodeFrame(n, rgba, reason) ? rgba.size() != bytes : reason.empty())
            __builtin_trap();
    }
    return 0;
}

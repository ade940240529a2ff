#include "mesh/randomcolour.h"

#include <cstdint>
#include <mutex>

namespace vexa::mesh {

namespace {

std::mutex gMutex;
uint32_t gSeed = 0;

// The classic 15-bit linear congruential generator, so that colours do not depend
// on the C library's rand().
class Draws {
public:
    explicit Draws(uint32_t seed)
        : state_(seed)
    {
    }
    int next()
    {
        state_ = state_ * 214013u + 2531011u;
        return int((state_ >> 16) & 0x7fff);
    }

private:
    uint32_t state_;
};

} // namespace

void randomColour(int mode, double rgb[3])
{
    const double wanted = mode == 2 ? 2.0 : 1.0;
    std::lock_guard lock(gMutex);
    // The seeds run through at most 32768 values: bound the search so that a cycle
    // that never reaches the wanted brightness cannot hang the caller.
    for (int attempt = 0; attempt < 40000; ++attempt) {
        Draws draws(gSeed);
        int r = draws.next();
        int g = draws.next();
        int b = draws.next();
        gSeed = uint32_t(b);
        rgb[0] = r / 32767.0;
        rgb[1] = g / 32767.0;
        rgb[2] = b / 32767.0;
        if (rgb[0] + rgb[1] + rgb[2] >= wanted)
            return;
    }
}

void resetRandomColour()
{
    std::lock_guard lock(gMutex);
    gSeed = 0;
}

} // namespace vexa::mesh

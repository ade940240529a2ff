// Uniform methods and the Poisson generator, following the classic published routines
// step for step so that a seed gives the same sequence as they do.
//
// The recurrences run in 64-bit integers: negating the most negative seed overflows a
// 32-bit int, and every intermediate product then stays exact.
#include "randgen.h"

#include "vexa_guard.hpp"

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <limits>
#include <memory>

struct RandomGenerator {
    int deviation = RANDGEN_DEVIATION_UNIFORM;
    int uniformMethod = 0;
    double mean = 0.0;
    double amplitude = 1.0;
    double standardDeviation = 1.0;
    std::int32_t seed = -13;
    std::unique_ptr<RandomGenerator> sub; // feeds the Poisson generator
    // Poisson terms, kept for the mean they were computed for (oldm).
    double sq = 0.0;
    double alxm = 0.0;
    double g = 0.0;
    double oldm = 0.0;
};

namespace randgen {
namespace {

constexpr int kMethodCount = 6;
constexpr double kCap = 0.99999988; // largest result of methods 3 and 4
constexpr double kPi = 3.14159265358979;
// One Poisson deviate gives up after this many uniform draws. Sound means need a
// handful; only a uniform source stuck in a short cycle, or a mean too large for
// double precision, would otherwise loop for ever.
constexpr long kMaxPoissonDraws = 1000000;

// Park-Miller minimal standard step by Schrage's method.
std::int64_t parkMiller(std::int64_t s)
{
    const std::int64_t k = s / 127773;
    s = 16807 * (s - k * 127773) - 2836 * k;
    if (s < 0)
        s += 2147483647;
    return s;
}

std::int64_t lecuyer1(std::int64_t s)
{
    const std::int64_t k = s / 53668;
    s = 40014 * (s - k * 53668) - k * 12211;
    if (s < 0)
        s += 2147483563;
    return s;
}

std::int64_t lecuyer2(std::int64_t s)
{
    const std::int64_t k = s / 52774;
    s = 40692 * (s - k * 52774) - k * 3791;
    if (s < 0)
        s += 2147483399;
    return s;
}

// The state shared by all generators, as in the published routines.
struct ShuffleState {
    std::int64_t table[32] = {};
    std::int64_t iy = 0;
};
ShuffleState method3;
ShuffleState method4;
std::int64_t method4Second = 123456789; // idum2
struct SubtractiveState {
    std::int64_t ma[56] = {};
    int inext = 0;
    int inextp = 0;
    int iff = 0;
};
SubtractiveState method5;

double standardLibrary(std::int32_t& s, double divisor)
{
    std::srand(static_cast<unsigned>(s));
    // The C library may give more than 15 bits (glibc gives 31); keep the top 15 so
    // that results stay within 0 to 32767 and x within [0, 1].
    const int r = std::rand() / (RAND_MAX / 32768 + 1);
    s = r;
    return s / divisor;
}

double ran0(std::int32_t& s)
{
    constexpr std::int32_t kMask = 123459876;
    const std::int64_t t = parkMiller(static_cast<std::int64_t>(s ^ kMask));
    const double x = static_cast<double>(t) / 2147483647.0;
    s = static_cast<std::int32_t>(t) ^ kMask;
    return x;
}

std::int64_t restartValue(std::int32_t s)
{
    const std::int64_t negated = -static_cast<std::int64_t>(s);
    return negated < 1 ? 1 : negated;
}

double ran1(std::int32_t& s)
{
    ShuffleState& st = method3;
    std::int64_t t = s;
    if (t <= 0 || st.iy == 0) {
        t = restartValue(s);
        for (int j = 32 + 7; j >= 0; --j) {
            t = parkMiller(t);
            if (j < 32)
                st.table[j] = t;
        }
        st.iy = st.table[0];
    }
    t = parkMiller(t);
    s = static_cast<std::int32_t>(t);
    const auto j = static_cast<std::size_t>(st.iy / 67108864) & 31u;
    st.iy = st.table[j];
    st.table[j] = t;
    const double x = static_cast<double>(st.iy) / 2147483647.0;
    return x > kCap ? kCap : x;
}

double ran2(std::int32_t& s)
{
    ShuffleState& st = method4;
    std::int64_t t = s;
    if (t <= 0) {
        t = restartValue(s);
        method4Second = t;
        for (int j = 32 + 7; j >= 0; --j) {
            t = lecuyer1(t);
            if (j < 32)
                st.table[j] = t;
        }
        st.iy = st.table[0];
    }
    t = lecuyer1(t);
    s = static_cast<std::int32_t>(t);
    method4Second = lecuyer2(method4Second);
    const auto j = static_cast<std::size_t>(st.iy / 67108862) & 31u;
    st.iy = st.table[j] - method4Second;
    st.table[j] = t;
    if (st.iy < 1)
        st.iy += 2147483562;
    const double x = static_cast<double>(st.iy) / 2147483563.0;
    return x > kCap ? kCap : x;
}

double ran3(std::int32_t& s)
{
    constexpr std::int64_t kBig = 1000000000;
    constexpr std::int64_t kSeed = 161803398;
    SubtractiveState& st = method5;
    if (s < 0 || st.iff == 0) {
        st.iff = 1;
        std::int64_t mj = std::llabs(kSeed - std::llabs(static_cast<std::int64_t>(s))) % kBig;
        st.ma[55] = mj;
        std::int64_t mk = 1;
        for (int i = 1; i <= 54; ++i) {
            const int ii = (21 * i) % 55;
            st.ma[ii] = mk;
            mk = mj - mk;
            if (mk < 0)
                mk += kBig;
            mj = st.ma[ii];
        }
        for (int k = 1; k <= 4; ++k)
            for (int i = 1; i <= 55; ++i) {
                st.ma[i] -= st.ma[1 + (i + 30) % 55];
                if (st.ma[i] < 0)
                    st.ma[i] += kBig;
            }
        st.inext = 0;
        st.inextp = 31;
        s = 1;
    }
    if (++st.inext == 56)
        st.inext = 1;
    if (++st.inextp == 56)
        st.inextp = 1;
    std::int64_t mj = st.ma[st.inext] - st.ma[st.inextp];
    if (mj < 0)
        mj += kBig;
    st.ma[st.inext] = mj;
    return static_cast<double>(mj) * 1e-9;
}

double uniformX(RandomGenerator& gen)
{
    switch (gen.uniformMethod) {
    case 0:
        return standardLibrary(gen.seed, 32767.0);
    case 1:
        return standardLibrary(gen.seed, 32768.0);
    case 2:
        return ran0(gen.seed);
    case 3:
        return ran1(gen.seed);
    case 4:
        return ran2(gen.seed);
    default:
        return ran3(gen.seed);
    }
}

double uniformDeviate(RandomGenerator& gen)
{
    return (uniformX(gen) - 0.5) * gen.amplitude + gen.mean;
}

double gammln(double xx)
{
    static const double kCof[6] = { 76.18009172947146, -86.50532032941677, 24.01409824083091,
        -1.231739572450155, 0.1208650973866179e-2, -0.5395239384953e-5 };
    const double x = xx;
    double y = xx;
    double tmp = x + 5.5;
    tmp -= (x + 0.5) * std::log(tmp);
    double ser = 1.000000000190015;
    for (double c : kCof) {
        y += 1.0;
        ser += c / y;
    }
    return -tmp + std::log(2.5066282746310005 * ser / x);
}

double poisson(RandomGenerator& gen)
{
    const double m = gen.mean;
    if (std::isnan(m) || m == std::numeric_limits<double>::infinity())
        return m;
    RandomGenerator& source = *gen.sub;
    long draws = 0;
    if (m < 12.0) {
        if (m != gen.oldm) {
            gen.oldm = m;
            gen.g = std::exp(-m);
        }
        double em = -1.0;
        double t = 1.0;
        do {
            em += 1.0;
            t *= uniformDeviate(source);
        } while (t > gen.g && ++draws < kMaxPoissonDraws);
        return em;
    }
    if (m != gen.oldm) {
        gen.oldm = m;
        gen.sq = std::sqrt(2.0 * m);
        gen.alxm = std::log(m);
        gen.g = m * gen.alxm - gammln(m + 1.0);
    }
    double em = 0.0;
    while (draws < kMaxPoissonDraws) {
        double y = 0.0;
        do {
            y = std::tan(kPi * uniformDeviate(source));
            em = gen.sq * y + m;
        } while (em < 0.0 && ++draws < kMaxPoissonDraws);
        em = std::floor(em);
        const double t = 0.9 * (1.0 + y * y) * std::exp(em * gen.alxm - gammln(em + 1.0) - gen.g);
        ++draws;
        if (uniformDeviate(source) <= t)
            return em;
    }
    return std::floor(m);
}

} // namespace
} // namespace randgen

extern "C" {

VEXA_API RandomGenerator* randNumGenNew(void)
{
    return vexa::guarded([] { return new RandomGenerator(); });
}

VEXA_API int randNumGenDelete(RandomGenerator* generator)
{
    delete generator;
    return 0;
}

VEXA_API int randNumGenSetDeviation(RandomGenerator* generator, int deviation)
{
    if (!generator)
        return 0;
    switch (deviation) {
    case RANDGEN_DEVIATION_UNIFORM:
    case RANDGEN_DEVIATION_NORMAL:
        generator->deviation = deviation;
        return 1;
    case RANDGEN_DEVIATION_POISSON:
        return vexa::guarded([&] {
            auto sub = std::make_unique<RandomGenerator>();
            sub->mean = 0.5;
            // A second choice of Poisson starts from a fresh source; the old one goes.
            generator->sub = std::move(sub);
            generator->deviation = deviation;
            generator->mean = 1.0;
            generator->oldm = -1.0;
            return 1;
        });
    default:
        return 0;
    }
}

VEXA_API int randNumGenSetUniformMethod(RandomGenerator* generator, int method)
{
    if (!generator || method < 0 || method >= randgen::kMethodCount)
        return 0;
    switch (generator->deviation) {
    case RANDGEN_DEVIATION_UNIFORM:
        generator->uniformMethod = method;
        return 1;
    case RANDGEN_DEVIATION_POISSON:
        return randNumGenSetUniformMethod(generator->sub.get(), method);
    default:
        return 0;
    }
}

VEXA_API int randNumGenSetSeed(RandomGenerator* generator, int seed)
{
    if (!generator)
        return 0;
    switch (generator->deviation) {
    case RANDGEN_DEVIATION_UNIFORM:
        generator->seed = seed;
        return 1;
    case RANDGEN_DEVIATION_POISSON:
        return randNumGenSetSeed(generator->sub.get(), seed);
    default:
        return 0;
    }
}

VEXA_API int randNumGenSetMean(RandomGenerator* generator, double mean)
{
    if (!generator)
        return 0;
    generator->mean = mean;
    return 1;
}

VEXA_API int randNumGenSetAmplitude(RandomGenerator* generator, double amplitude)
{
    if (!generator)
        return 0;
    generator->amplitude = amplitude;
    return 1;
}

VEXA_API int randNumGenSetStandardDeviation(RandomGenerator* generator, double deviation)
{
    if (!generator)
        return 0;
    generator->standardDeviation = deviation;
    return 1;
}

VEXA_API double randNumGenGetRandomNumber(RandomGenerator* generator)
{
    if (!generator)
        return 0.0;
    switch (generator->deviation) {
    case RANDGEN_DEVIATION_UNIFORM:
        return randgen::uniformDeviate(*generator);
    case RANDGEN_DEVIATION_POISSON:
        return generator->sub ? randgen::poisson(*generator) : 0.0;
    default:
        return 0.0;
    }
}

} // extern "C"

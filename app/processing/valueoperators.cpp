#include "processing/valueoperators.h"

#include <cmath>
#include <cstddef>

namespace vexa::processing {

bool unaryCodeValid(int code)
{
    return code >= UNARY_ABS && code <= UNARY_POWER;
}

bool binaryCodeValid(int code)
{
    return code >= BINARY_ADD && code <= BINARY_ANGULAR;
}

double angularDifference(double a, double b)
{
    double d = std::fabs(a - b);
    if (d >= kPi)
        d -= kPi;
    if (kPi - d <= d)
        d = kPi - d;
    return d;
}

namespace {

// Written as comparisons that are false for NaN, so that an unordered pair takes b
// and a NaN sample under a root or a logarithm gives 0.
double unaryValue(double x, int code, double mean, double p)
{
    switch (code) {
    case UNARY_ABS:
        return std::fabs(x);
    case UNARY_INVERSE:
        return x == 0 ? kInverseOfZero : 1.0 / x;
    case UNARY_NEGATE:
        return -x;
    case UNARY_SQUARE:
        return x * x;
    case UNARY_VARIANCE:
        return (x - mean) * (x - mean);
    case UNARY_SQRT:
        return x >= 0 ? std::sqrt(x) : 0.0;
    case UNARY_EXP:
        return std::exp(x);
    case UNARY_LOG:
        return x > 0 ? std::log(x) : 0.0;
    case UNARY_POWER:
        return std::pow(x, p);
    default:
        return x;
    }
}

double binaryValue(double a, double b, int code)
{
    switch (code) {
    case BINARY_ADD:
        return a + b;
    case BINARY_SUBTRACT:
        return a - b;
    case BINARY_MULTIPLY:
        return a * b;
    case BINARY_DIVIDE:
        return b == 0 ? 0.0 : a / b;
    case BINARY_MAX:
        return a > b ? a : b;
    case BINARY_MIN:
        return a < b ? a : b;
    case BINARY_EXTREMUM:
        return std::fabs(a) > std::fabs(b) ? a : b;
    case BINARY_ANGULAR:
        return angularDifference(a, b);
    default:
        return a;
    }
}

} // namespace

double unaryMean(const double* source, int width, int height)
{
    if (!source || width <= 0 || height <= 0)
        return 0;
    const std::size_t n = std::size_t(width) * std::size_t(height);
    double sum = 0;
    for (std::size_t i = 0; i < n; ++i)
        sum += source[i];
    return sum / double(n);
}

void unaryKernelRows(const double* source, double* destination, int width, int height, int code,
    double p, double mean, int first, int last)
{
    if (!source || !destination || width <= 0 || height <= 0 || !unaryCodeValid(code))
        return;
    first = first < 0 ? 0 : first;
    last = last > height ? height : last;
    if (first >= last)
        return;
    const std::size_t w = std::size_t(width);
    std::size_t begin = std::size_t(first) * w;
    const std::size_t end = std::size_t(last) * w;

    if (code == UNARY_INTEGRATE) {
        if (first == 0) {
            for (std::size_t c = 0; c < w; ++c)
                destination[c] = source[c];
            begin = w;
        }
        for (std::size_t i = begin; i < end; ++i)
            destination[i] = destination[i - w] + source[i];
        return;
    }
    for (std::size_t i = begin; i < end; ++i)
        destination[i] = unaryValue(source[i], code, mean, p);
}

void unaryKernel(
    const double* source, double* destination, int width, int height, int code, double p)
{
    if (!source || !destination || width <= 0 || height <= 0 || !unaryCodeValid(code))
        return;
    const double mean = code == UNARY_VARIANCE ? unaryMean(source, width, height) : 0.0;
    unaryKernelRows(source, destination, width, height, code, p, mean, 0, height);
}

void binaryKernel(
    const double* a, const double* b, double* destination, int width, int height, int code)
{
    if (!a || !b || !destination || width <= 0 || height <= 0 || !binaryCodeValid(code))
        return;
    const std::size_t n = std::size_t(width) * std::size_t(height);
    for (std::size_t i = 0; i < n; ++i)
        destination[i] = binaryValue(a[i], b[i], code);
}

} // namespace vexa::processing

// Sample-by-sample operators on arrays of doubles: the kernels behind the unary and
// binary operator commands of the image and volume windows.
#pragma once

namespace vexa::processing {

// Operator codes. An operator command's identifier is its menu's base plus the code
// (see the command table).
enum UnaryCode : int {
    UNARY_ABS = 1,
    UNARY_INVERSE = 2,
    UNARY_NEGATE = 3,
    UNARY_SQUARE = 4,
    UNARY_VARIANCE = 5,
    UNARY_SQRT = 6,
    UNARY_EXP = 7,
    UNARY_LOG = 8,
    UNARY_INTEGRATE = 9,
    UNARY_POWER = 10,
};

enum BinaryCode : int {
    BINARY_ADD = 1,
    BINARY_SUBTRACT = 2,
    BINARY_MULTIPLY = 3,
    BINARY_DIVIDE = 4,
    BINARY_MAX = 5,
    BINARY_MIN = 6,
    BINARY_EXTREMUM = 7,
    BINARY_ANGULAR = 8,
};

// The value inversion gives for a zero sample.
constexpr double kInverseOfZero = 1000000.0;
// Pi as the orientation data have always been written with.
constexpr double kPi = 3.14159265359;

bool unaryCodeValid(int code);
bool binaryCodeValid(int code);

// Difference of two orientations modulo pi, folded into [0, pi/2] for inputs in
// [0, pi).
double angularDifference(double a, double b);

// destination = op(source), both width x height doubles in row order; p is the
// exponent of UNARY_POWER. An unknown code or a non-positive size leaves destination
// untouched. Source and destination may be the same array.
void unaryKernel(
    const double* source, double* destination, int width, int height, int code, double p);

// Rows first to last - 1 of unaryKernel's result, so that long work can stop between
// bands. Rows above first must be done already: vertical integration adds the row
// above. mean is what UNARY_VARIANCE subtracts: unaryMean of the whole source.
void unaryKernelRows(const double* source, double* destination, int width, int height, int code,
    double p, double mean, int first, int last);
double unaryMean(const double* source, int width, int height);

// destination = op(a, b) over width x height doubles. An unknown code or a
// non-positive size leaves destination untouched. destination may alias a or b.
void binaryKernel(
    const double* a, const double* b, double* destination, int width, int height, int code);

} // namespace vexa::processing

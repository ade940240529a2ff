// The operator kernels, sample by sample, at ordinary and special values.
#include "processing/valueoperators.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <vector>

using namespace vexa::processing;

namespace {

const double kNaN = std::numeric_limits<double>::quiet_NaN();
const double kUntouched = -12345.0;

double unary(double x, int code, double p = 0)
{
    double r = kUntouched;
    unaryKernel(&x, &r, 1, 1, code, p);
    return r;
}

double binary(double a, double b, int code)
{
    double r = kUntouched;
    binaryKernel(&a, &b, &r, 1, 1, code);
    return r;
}

} // namespace

TEST(UnaryKernel, OrdinaryValues)
{
    EXPECT_EQ(unary(-2.5, UNARY_ABS), 2.5);
    EXPECT_EQ(unary(4, UNARY_INVERSE), 0.25);
    EXPECT_EQ(unary(-0.5, UNARY_INVERSE), -2);
    EXPECT_EQ(unary(3, UNARY_NEGATE), -3);
    EXPECT_EQ(unary(-3, UNARY_SQUARE), 9);
    EXPECT_EQ(unary(16, UNARY_SQRT), 4);
    EXPECT_DOUBLE_EQ(unary(1, UNARY_EXP), std::exp(1.0));
    EXPECT_DOUBLE_EQ(unary(std::exp(2.0), UNARY_LOG), 2);
    EXPECT_DOUBLE_EQ(unary(2, UNARY_POWER, 3), 8);
    EXPECT_DOUBLE_EQ(unary(9, UNARY_POWER, 0.5), 3);
}

TEST(UnaryKernel, SpecialValues)
{
    EXPECT_EQ(unary(0, UNARY_INVERSE), 1000000.0);
    EXPECT_EQ(unary(-0.0, UNARY_INVERSE), 1000000.0);
    EXPECT_EQ(unary(-4, UNARY_SQRT), 0);
    EXPECT_EQ(unary(0, UNARY_LOG), 0);
    EXPECT_EQ(unary(-1, UNARY_LOG), 0);
    // The default exponent 0 gives 1 everywhere, 0 included.
    EXPECT_EQ(unary(0, UNARY_POWER, 0), 1);
    EXPECT_EQ(unary(-7, UNARY_POWER, 0), 1);
}

TEST(UnaryKernel, NotANumber)
{
    EXPECT_TRUE(std::isnan(unary(kNaN, UNARY_INVERSE)));
    EXPECT_EQ(unary(kNaN, UNARY_SQRT), 0);
    EXPECT_EQ(unary(kNaN, UNARY_LOG), 0);
}

TEST(UnaryKernel, VarianceUsesTheMeanOfTheWholeImage)
{
    std::vector<double> in = { 1, 2, 3, 6 }; // mean 3
    std::vector<double> out(4);
    unaryKernel(in.data(), out.data(), 2, 2, UNARY_VARIANCE, 0);
    EXPECT_EQ(out, (std::vector<double> { 4, 1, 0, 9 }));

    std::vector<double> flat(6, 7.25);
    std::vector<double> zeros(6, -1);
    unaryKernel(flat.data(), zeros.data(), 3, 2, UNARY_VARIANCE, 0);
    EXPECT_EQ(zeros, std::vector<double>(6, 0.0));
}

TEST(UnaryKernel, VerticalIntegrationRunsDownEachColumn)
{
    // Two columns: 1, 2, 3 and 10, 20, 30 from top to bottom.
    std::vector<double> in = { 1, 10, 2, 20, 3, 30 };
    std::vector<double> out(6);
    unaryKernel(in.data(), out.data(), 2, 3, UNARY_INTEGRATE, 0);
    EXPECT_EQ(out, (std::vector<double> { 1, 10, 3, 30, 6, 60 }));
    // In place gives the same.
    unaryKernel(in.data(), in.data(), 2, 3, UNARY_INTEGRATE, 0);
    EXPECT_EQ(in, out);
}

TEST(UnaryKernel, OddSizesCoverEverySample)
{
    // 5 x 3 = 15 samples: not a multiple of four.
    std::vector<double> in(15), out(15, kUntouched);
    for (int i = 0; i < 15; ++i)
        in[std::size_t(i)] = -i;
    unaryKernel(in.data(), out.data(), 5, 3, UNARY_ABS, 0);
    for (int i = 0; i < 15; ++i)
        EXPECT_EQ(out[std::size_t(i)], i);
}

TEST(UnaryKernel, UnknownCodeOrBadSizeLeavesTheDestination)
{
    EXPECT_EQ(unary(3, 0), kUntouched);
    EXPECT_EQ(unary(3, 11), kUntouched);
    double x = 3, r = kUntouched;
    unaryKernel(&x, &r, 0, 1, UNARY_ABS, 0);
    unaryKernel(&x, &r, 1, -1, UNARY_ABS, 0);
    unaryKernel(nullptr, &r, 1, 1, UNARY_ABS, 0);
    EXPECT_EQ(r, kUntouched);
}

TEST(BinaryKernel, ArithmeticAndDivisionByZero)
{
    EXPECT_EQ(binary(5, 3, BINARY_ADD), 8);
    EXPECT_EQ(binary(5, 3, BINARY_SUBTRACT), 2);
    EXPECT_EQ(binary(5, 3, BINARY_MULTIPLY), 15);
    EXPECT_EQ(binary(6, 3, BINARY_DIVIDE), 2);
    EXPECT_EQ(binary(5, 0, BINARY_DIVIDE), 0);
    EXPECT_EQ(binary(5, -0.0, BINARY_DIVIDE), 0);
    EXPECT_TRUE(std::isnan(binary(5, kNaN, BINARY_DIVIDE)));
}

TEST(BinaryKernel, MaximumMinimumExtremum)
{
    EXPECT_EQ(binary(2, 7, BINARY_MAX), 7);
    EXPECT_EQ(binary(2, 7, BINARY_MIN), 2);
    EXPECT_EQ(binary(-3, 2, BINARY_EXTREMUM), -3);
    EXPECT_EQ(binary(2, -2, BINARY_EXTREMUM), -2);
    EXPECT_EQ(binary(1, -4, BINARY_EXTREMUM), -4);
}

TEST(BinaryKernel, UnorderedComparisonsTakeTheSecondOperand)
{
    EXPECT_EQ(binary(kNaN, 4, BINARY_MAX), 4);
    EXPECT_TRUE(std::isnan(binary(4, kNaN, BINARY_MAX)));
    EXPECT_EQ(binary(kNaN, 4, BINARY_MIN), 4);
    EXPECT_TRUE(std::isnan(binary(4, kNaN, BINARY_MIN)));
    EXPECT_EQ(binary(kNaN, 4, BINARY_EXTREMUM), 4);
}

TEST(BinaryKernel, AngularSubtractionFoldsModuloPi)
{
    EXPECT_NEAR(binary(0.1, 3.0, BINARY_ANGULAR), kPi - 2.9, 1e-12);
    EXPECT_NEAR(binary(0.1, 3.0, BINARY_ANGULAR), 0.2416, 1e-4);
    EXPECT_EQ(binary(1.0, 1.0, BINARY_ANGULAR), 0);
    EXPECT_NEAR(binary(0.5, 1.0, BINARY_ANGULAR), 0.5, 1e-12);
    EXPECT_NEAR(binary(0, kPi / 2, BINARY_ANGULAR), kPi / 2, 1e-12);
    // A difference of pi or more loses a half turn first.
    EXPECT_NEAR(angularDifference(4.0, 0.5), 3.5 - kPi, 1e-12);
    for (double a = 0; a < kPi; a += 0.3)
        for (double b = 0; b < kPi; b += 0.35) {
            double d = angularDifference(a, b);
            EXPECT_GE(d, 0);
            EXPECT_LE(d, kPi / 2 + 1e-12);
            EXPECT_EQ(d, angularDifference(b, a));
        }
}

TEST(BinaryKernel, InPlaceAndUnknownCodes)
{
    std::vector<double> a = { 1, 2, 3, 4, 5 }, b = { 10, 20, 30, 40, 50 };
    binaryKernel(a.data(), b.data(), a.data(), 5, 1, BINARY_ADD);
    EXPECT_EQ(a, (std::vector<double> { 11, 22, 33, 44, 55 }));
    EXPECT_EQ(binary(1, 2, 0), kUntouched);
    EXPECT_EQ(binary(1, 2, 9), kUntouched);
}

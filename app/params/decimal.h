// Decimal numbers read digit by digit (real fields, script lines). Any number of
// digits may be typed: past 18 significant digits the mantissa stops growing and only
// the power of ten moves, and the exponent is capped, so long inputs neither overflow
// an integer nor turn into inf times zero.
#pragma once

#include <cmath>
#include <cstdint>

namespace vexa::params {

class DecimalNumber {
public:
    void addMantissaDigit(int digit, bool fractional)
    {
        if (mantissa_ < 1e18) {
            mantissa_ = mantissa_ * 10.0 + digit;
            if (fractional)
                --scale_;
        } else if (!fractional) {
            ++scale_;
        }
    }

    void addExponentDigit(int digit)
    {
        if (exponent_ < kExponentCap)
            exponent_ = exponent_ * 10 + digit;
    }

    // sign * mantissa * 10^(scale + exponentSign * exponent)
    double value(int sign, int exponentSign) const
    {
        double magnitude = 0.0;
        if (mantissa_ != 0.0) {
            int64_t power = scale_ + exponentSign * exponent_;
            if (power > 400)
                magnitude = HUGE_VAL;
            else if (power < -450)
                magnitude = 0.0;
            else if (power >= 0)
                magnitude = mantissa_ * std::pow(10.0, static_cast<double>(power));
            else if (power >= -300)
                magnitude = mantissa_ / std::pow(10.0, static_cast<double>(-power));
            else
                magnitude = mantissa_ / 1e300 / std::pow(10.0, static_cast<double>(-power - 300));
        }
        return sign < 0 ? -magnitude : magnitude;
    }

private:
    static constexpr int64_t kExponentCap = 100000000;
    double mantissa_ = 0.0;
    int64_t scale_ = 0;
    int64_t exponent_ = 0;
};

} // namespace vexa::params

#include "rok/numbers.hpp"

#include <charconv>
#include <limits>
#include <string>

#include "util/compat.hpp"

namespace rokconv {

namespace {

// space, or one of \t \n \v \f \r
bool is_space(char c) {
    return c == ' ' || (c >= '\t' && c <= '\r');
}

bool is_digit(char c) {
    return static_cast<unsigned char>(c - '0') < 10;
}

// skips leading white space and an optional sign; true for '-'
bool take_sign(const char*& s, const char* end) {
    while (s < end && is_space(*s))
        ++s;
    if (s < end && (*s == '+' || *s == '-')) return *s++ == '-';
    return false;
}

}  // namespace

std::int32_t line_int(std::string_view line) {
    const char* s = line.data();
    const char* const end = s + line.size();
    const bool negative = take_sign(s, end);
    std::uint32_t value = 0;
    for (; s < end && is_digit(*s); ++s)
        value = value * 10u + static_cast<std::uint32_t>(*s - '0');
    if (negative) value = 0u - value;
    return static_cast<std::int32_t>(value);
}

double line_real(std::string_view line) {
    const char* s = line.data();
    const char* const end = s + line.size();
    const bool negative = take_sign(s, end);

    // the digits as an integer and a power of ten, as long as they fit 19 digits
    const char* const mantissa = s;
    std::size_t digits = 0;
    std::uint64_t value = 0;
    int significant = 0;
    int scale = 0;
    bool fits = true;
    auto take = [&](char c, bool fraction) {
        ++digits;
        if (significant == 0 && c == '0') {
            scale -= fraction;
        } else if (significant < 19) {
            value = value * 10 + static_cast<std::uint64_t>(c - '0');
            ++significant;
            scale -= fraction;
        } else {
            fits = false;
        }
    };
    for (; s < end && is_digit(*s); ++s)
        take(*s, false);
    if (s < end && *s == '.') {
        for (++s; s < end && is_digit(*s); ++s)
            take(*s, true);
    }
    if (digits == 0) return 0.0;  // "-", ".", "inf", "nan" and the like hold no number

    const char* number_end = s;
    bool negative_exponent = false;
    int exponent = 0;
    const char marker = s < end ? *s : '\0';
    if (marker == 'e' || marker == 'E' || marker == 'd' || marker == 'D') {
        const char* e = s + 1;
        bool minus = false;
        if (e < end && (*e == '+' || *e == '-')) minus = *e++ == '-';
        if (e < end && is_digit(*e)) {  // a marker without digits is not part of the number
            negative_exponent = minus;
            for (; e < end && is_digit(*e); ++e) {
                if (exponent < 100000) exponent = exponent * 10 + (*e - '0');
            }
            number_end = e;
        }
    }

    // Up to 2^53 with a power of ten up to 22 both operands are exact doubles, so one
    // multiplication or division gives the correctly rounded result.
    const int power = scale + (negative_exponent ? -exponent : exponent);
    double result = 0.0;
    if (fits && value <= (std::uint64_t{1} << 53) && power >= -22 && power <= 22) {
        result = static_cast<double>(value);
        result = power < 0 ? result / detail::kExactPowersOfTen[-power]
                           : result * detail::kExactPowersOfTen[power];
        return negative ? -result : result;
    }

    std::errc ec{};
    if (number_end != s && (marker == 'd' || marker == 'D')) {
        // from_chars knows only e and E as the exponent marker
        std::string text(mantissa, number_end);
        text[static_cast<std::size_t>(s - mantissa)] = 'e';
        ec = compat::from_chars(text.data(), text.data() + text.size(), result).ec;
    } else {
        ec = compat::from_chars(mantissa, number_end, result).ec;
    }
    if (ec == std::errc::result_out_of_range) {
        // a line holds at most 79 digits, so only a large exponent leaves the range: a positive
        // one overflows to infinity, a negative one underflows to zero
        result = negative_exponent ? 0.0 : std::numeric_limits<double>::infinity();
    }
    return negative ? -result : result;
}

}  // namespace rokconv

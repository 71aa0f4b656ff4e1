// The numbers of ROK lines. The general conversions (line_int, line_real) read any line as the
// file's format reads it; the plain ones (plain_int, plain_real) convert the common line, an
// optional '-' and a few digits with a '.' in reals, eight bytes at a time to the same value,
// and hand any other line to the general ones.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "rok/words.hpp"

namespace rokconv {

// Decimal integer of a line: leading white space, optional sign, digits up to the first
// non-digit. No digits gives 0; overflow wraps modulo 2^32.
std::int32_t line_int(std::string_view line);

// Decimal real of a line, correctly rounded and independent of the locale: leading white space,
// optional sign, digits, optional fraction, optional exponent introduced by e, E, d or D. Anything
// after the number is ignored; no number gives 0.0.
double line_real(std::string_view line);

namespace detail {

// The powers of ten a double holds exactly. An integer up to 2^53 multiplied or divided by one
// of them is one correctly rounded operation, which is how plain decimals are converted.
inline constexpr double kExactPowersOfTen[] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,
                                               1e8,  1e9,  1e10, 1e11, 1e12, 1e13, 1e14, 1e15,
                                               1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};

inline constexpr std::uint32_t kPowersOfTen[] = {1,     10,     100,     1000,
                                                 10000, 100000, 1000000, 10000000};

// the eight bytes at p, each less '0', so that digits become their values 0-9
inline std::uint64_t digit_word(const char* p) {
    return load_word(reinterpret_cast<const unsigned char*>(p)) ^ (kOnes * '0');
}

// 0x80 in the bytes of a digit word that are not digits, 10 or more. A carry out of a flagged
// byte can only disturb the bytes after it, so the lowest flag is always exact.
inline std::uint64_t non_digits(std::uint64_t d) {
    return ((d + kOnes * 0x76) | d) & (kOnes * 0x80);
}

// how many of the word's bytes are digits before the first that is not
inline unsigned leading_digits(std::uint64_t d) {
    const std::uint64_t flags = non_digits(d);
    return flags == 0 ? 8u : static_cast<unsigned>(lowest_bit(flags)) / 8u;
}

// The value of a digit word's first k (1-8) bytes, which are digits. Moving them to the top of
// the word drops the bytes after them; the zeros below are leading zeros.
[[gnu::always_inline]] inline std::uint32_t digits_value(std::uint64_t d, unsigned k) {
    d <<= 8 * (8 - k);
    d = d * 10 + (d >> 8);
    d = (((d & 0x000000FF000000FFu) * (100 + (1000000ull << 32))) +
         (((d >> 16) & 0x000000FF000000FFu) * (1 + (10000ull << 32)))) >>
        32;
    return static_cast<std::uint32_t>(d);
}

// whether the first k (1-8) bytes of a digit word are all digits, and if so their value
[[gnu::always_inline]] inline bool plain_digits(std::uint64_t d, unsigned k, std::uint32_t& value) {
    if (non_digits(d << (8 * (8 - k))) != 0) return false;
    value = digits_value(d, k);
    return true;
}

// The word reads may look past the line, never past the input's end: a line with room behind
// it (Roomy: one from a line map) is not checked.
template <bool Roomy>
bool words_fit(const char* p, std::size_t n, const unsigned char* end) {
    return Roomy || reinterpret_cast<const unsigned char*>(p) + n <= end;
}

}  // namespace detail

// what line_int gives a line whose bytes up to end may be read; up to 8 digits after a sign
// are plain
template <bool Roomy = false>
[[gnu::always_inline]] inline std::int32_t plain_int(std::string_view s, const unsigned char* end) {
    if (s.size() == 1 && static_cast<unsigned char>(s[0] - '0') < 10) return s[0] - '0';
    if (!s.empty()) {
        const std::size_t sign = s[0] == '-';
        const std::size_t k = s.size() - sign;
        if (k - 1 < 8 && detail::words_fit<Roomy>(s.data(), sign + 8, end)) {
            std::uint32_t value;
            if (detail::plain_digits(detail::digit_word(s.data() + sign), static_cast<unsigned>(k),
                                     value)) {
                return static_cast<std::int32_t>(sign ? 0u - value : value);
            }
        }
    }
    return line_int(s);
}

// What line_real gives a line whose bytes up to end may be read. Up to 8 digits, then optionally
// '.' and up to 7 more, are plain: all the digits as one integer are exact in a double, and so is
// the power of ten that divides it, so one correctly rounded operation gives the value, as in
// the general conversion.
template <bool Roomy = false>
[[gnu::always_inline]] inline double plain_real(std::string_view s, const unsigned char* end) {
    if (!s.empty()) {
        const std::size_t sign = s[0] == '-';
        const char* q = s.data() + sign;
        const std::size_t n = s.size() - sign;
        if (n - 1 < 16 && detail::words_fit<Roomy>(q, 17, end)) {
            const std::uint64_t whole = detail::digit_word(q);
            const unsigned k = detail::leading_digits(whole);
            const std::size_t fraction = k < n ? n - k - 1 : 0;
            std::uint32_t high = 0;
            std::uint32_t low = 0;
            // digits only, or digits, '.' and digits, with one digit at least
            const bool plain =
                k >= n ||
                (q[k] == '.' && fraction < 8 && k + fraction > 0 &&
                 (fraction == 0 || detail::plain_digits(detail::digit_word(q + k + 1),
                                                        static_cast<unsigned>(fraction), low)));
            if (plain) {
                // the leading digits are known to be digits
                if (k > 0) high = detail::digits_value(whole, k < n ? k : static_cast<unsigned>(n));
                const std::uint64_t value =
                    std::uint64_t{high} * detail::kPowersOfTen[fraction] + low;
                const double result = static_cast<double>(static_cast<std::int64_t>(value)) /
                                      detail::kExactPowersOfTen[fraction];
                return sign ? -result : result;
            }
        }
    }
    return line_real(s);
}

}  // namespace rokconv

#include "obj/float_text.hpp"

#include <array>
#include <bit>
#include <charconv>
#include <cstdint>
#include <cstring>

#include "util/compat.hpp"

// The digits of a float c * 2^q are found in the interval of the numbers that round to it, scaled
// by 10^-k so that it is from 10 to 100 wide (as in Jeon's Dragonbox): it then holds one multiple
// of 100 at most, which is the shortest choice where there is one, and else one to ten multiples
// of 10, of which the one nearest to the float is taken. A single product, the upper end scaled,
// settles most floats; the scaled float or its lower end is needed where that end or a tie is
// too close to tell. The powers of two, whose interval reaches only half as far below, are
// looked up in a table made at compile time with Giulietti's Schubfach.
//
// bench/float_text.cpp checks the text of every float against std::to_chars; what times() says
// below rests on that check. Run it after any change here.

namespace rokconv {
namespace {

// ---- powers of ten ---------------------------------------------------------------------------

// 10^-31 to 10^46 scale the floats, from the largest, 2^104 times 2^23, to the least, 2^-149;
// 10^-32 is there for the check of the logarithms below
constexpr int kLeastPower = -32;
constexpr int kMostPower = 46;

// an unsigned integer of 192 bits in 32-bit limbs, the least significant first
struct Wide {
    std::array<std::uint32_t, 6> limb{};

    constexpr int bits() const {
        for (int i = 5; i >= 0; --i)
            if (limb[i] != 0) return 32 * i + 32 - std::countl_zero(limb[i]);
        return 0;
    }
    constexpr void times_ten() {
        std::uint64_t carry = 0;
        for (std::uint32_t& l : limb) {
            const std::uint64_t x = std::uint64_t{l} * 10 + carry;
            l = static_cast<std::uint32_t>(x);
            carry = x >> 32;
        }
    }
    // divided by ten, rounded down
    constexpr void over_ten() {
        std::uint64_t rest = 0;
        for (int i = 5; i >= 0; --i) {
            const std::uint64_t x = rest << 32 | limb[i];
            limb[i] = static_cast<std::uint32_t>(x / 10);
            rest = x % 10;
        }
    }
    // the 64 bits from the highest one down, rounded down, or the number shifted up to 64 bits
    constexpr std::uint64_t top64() const {
        const int low = bits() - 64;
        std::uint64_t top = 0;
        for (int b = 0; b < 64; ++b)
            if (const int at = low + b; at >= 0 && (limb[at / 32] >> at % 32 & 1) != 0)
                top |= std::uint64_t{1} << b;
        return top;
    }
};

// 10^e = m * 2^(log2 - 63) with m in [2^63, 2^64); g is floor(m) + 1, above m even where m is
// an integer
struct Power {
    std::uint64_t g = 0;
    int log2 = 0;
};
using Powers = std::array<Power, kMostPower - kLeastPower + 1>;

// From exact integers: 10^e for e >= 0, and floor(2^191 / 10^-e) below, which is found by
// dividing by ten again and again (the floor of a floor is the floor of the whole quotient) and
// which has the digits of floor(m) in its top 64 bits.
constexpr Powers make_powers() {
    Powers powers;
    Wide up;
    up.limb[0] = 1;
    for (int e = 0; e <= kMostPower; ++e, up.times_ten())
        powers[e - kLeastPower] = {up.top64() + 1, up.bits() - 1};
    Wide down;
    down.limb[5] = std::uint32_t{1} << 31;
    for (int e = -1; e >= kLeastPower; --e) {
        down.over_ten();
        powers[e - kLeastPower] = {down.top64() + 1, down.bits() - 192};
    }
    return powers;
}
constexpr Powers kPowers = make_powers();

// floor(log2 10^e), floor(log10 2^q) and floor(log10 (3/4 * 2^q)) without a table
constexpr int floor_log2_pow10(int e) {
    return (e * 1741647) >> 19;
}
constexpr int floor_log10_pow2(int q) {
    return (q * 1262611) >> 22;
}
constexpr int floor_log10_three_quarters_pow2(int q) {
    return (q * 1262611 - 524031) >> 22;
}

// the binary exponents a float's significand takes: subnormals and the largest floats
constexpr int kLeastQ = -149;
constexpr int kMostQ = 104;

// 3 * 10^e >= 2^p, told by the exponents of the table: 10^e is m * 2^(l - 63) with m in
// [2^63, 2^64), so only where p is l + 2 is m itself needed, m >= 2^65 / 3
constexpr bool three_pow10_at_least_pow2(int e, int p) {
    const Power& power = kPowers[e - kLeastPower];
    return p <= power.log2 + 1 || (p == power.log2 + 2 && power.g - 1 > 0xaaaaaaaaaaaaaaaa);
}

// the scale of a float's interval: 10^-k, and the interval 2^q * 10^-k = m * 2^(beta - 63) wide
struct Scale {
    int k;
    int beta;
};
constexpr Scale scale(int q) {
    const int k = floor_log10_pow2(q) - 1;
    return {k, q + floor_log2_pow10(-k)};
}
// floor(2^q * 10^-k) and floor(2^q * 10^-k / 2): floor(m) / 2^(63 - beta) rounded down is
// floor(m / 2^(63 - beta))
constexpr std::uint32_t width_of(std::uint64_t g, int beta) {
    return static_cast<std::uint32_t>((g - 1) >> (63 - beta));
}
constexpr std::uint32_t half_width_of(std::uint64_t g, int beta) {
    return static_cast<std::uint32_t>((g - 1) >> (64 - beta));
}

// The formulas give the powers the table has and the scales they are meant to, for every
// exponent a float has. A float's interval is from 10 to 100 wide once scaled, and beta at most
// 6, so that (2c + 1) << beta stays within 32 bits. For the powers of two, 10^k <= 3/4 * 2^q <
// 10^(k+1), and h (below) at most 4.
constexpr bool logarithms_hold() {
    for (int e = kLeastPower; e <= kMostPower; ++e) {
        if (floor_log2_pow10(e) != kPowers[e - kLeastPower].log2) return false;
        // floor(m) = floor(2^65 / 3) would leave three_pow10_at_least_pow2 undecided
        if (kPowers[e - kLeastPower].g - 1 == 0xaaaaaaaaaaaaaaaa) return false;
    }
    for (int q = kLeastQ; q <= kMostQ; ++q) {
        const auto [k, beta] = scale(q);
        if (-k < kLeastPower || -k > kMostPower || beta < 1 || beta > 6) return false;
        const std::uint32_t width = width_of(kPowers[-k - kLeastPower].g, beta);
        if (width < 10 || width > 99) return false;
    }
    for (int q = kLeastQ + 1; q <= kMostQ; ++q) {
        const int k = floor_log10_three_quarters_pow2(q);
        if (-k - 1 < kLeastPower || -k > kMostPower) return false;
        if (!three_pow10_at_least_pow2(-k, 2 - q) || three_pow10_at_least_pow2(-k - 1, 2 - q))
            return false;
        const int h = q + floor_log2_pow10(-k) + 1;
        if (h < 1 || h > 4) return false;
    }
    return true;
}
static_assert(logarithms_hold());

// What the scaling of a float's interval takes, by the float's exponent field, so that it is
// one load rather than a chain of multiplications: the subnormals, field 0, have the exponent of
// field 1.
struct Scaling {
    std::uint64_t g;  // 10^-k, as the table has it
    std::int32_t k;
    std::uint8_t beta;   // 3 to 6
    std::uint8_t width;  // the interval's, scaled and rounded down: 10 to 99
    std::uint8_t half;   // half of it, rounded down
};
constexpr std::array<Scaling, 255> kScaling = [] {
    std::array<Scaling, 255> scalings{};
    for (int field = 0; field < 255; ++field) {
        const auto [k, beta] = scale((field == 0 ? 1 : field) - 150);
        const std::uint64_t g = kPowers[-k - kLeastPower].g;
        scalings[field] = {g, k, static_cast<std::uint8_t>(beta),
                           static_cast<std::uint8_t>(width_of(g, beta)),
                           static_cast<std::uint8_t>(half_width_of(g, beta))};
    }
    return scalings;
}();

// ---- the shortest digits ---------------------------------------------------------------------

__extension__ using Product = unsigned __int128;  // GCC's and Clang's, as -Wpedantic is told

struct Decimal {
    std::uint32_t digits;  // may end in zeros
    int exponent;
};

// m * x / 2^64 for x < 2^31: its integer part, and whether it is an integer. g is less than one
// unit above m, which puts less than x into the low 64 bits of the product: bits 32 to 63 are
// clear where m * x / 2^64 is an integer, and the integer part is right. (No float has the
// scaled ends of its interval, or itself, closer than 2^-32 below an integer, or above one
// without being one, where either could go wrong: found by checking every float.)
struct Scaled {
    std::uint32_t integer;
    bool exact;
};
Scaled times(std::uint64_t g, std::uint32_t x) {
    const Product p = Product{g} * x;
    return {static_cast<std::uint32_t>(p >> 64), static_cast<std::uint64_t>(p) >> 32 == 0};
}

// c * 2^q, c > 0, whose neighbours lie at the same distance 2^q on either side, scaled as
// scaling says for q: the fewest decimal digits that round to it, the nearest of them, ties to
// even. The interval runs from (c - 1/2) 2^q to (c + 1/2) 2^q, with its ends where c is even.
Decimal shortest(std::uint32_t c, const Scaling& scaling) {
    const auto [g, k, beta, width, half] = scaling;
    const bool ends = (c & 1) == 0;

    // the upper end scaled, z, and the multiple of 100 at or below it, 100 * hundreds
    const Scaled z = times(g, (2 * c + 1) << beta);
    std::uint32_t hundreds = z.integer / 100;
    std::uint32_t r = z.integer - 100 * hundreds;  // z less that multiple, less its fraction
    if (r < width) {
        // inside, unless it is the upper end itself, left out
        if (r != 0 || !z.exact || ends) return {hundreds, k + 2};
        --hundreds;
        r = 100;
    } else if (r == width) {
        // The lower end is z less the width: just below the multiple where the fraction of z
        // is less than the width's, on it where the two are the same. Which is told by the
        // lower end's parity, the multiple being even.
        const Scaled lower = times(g, (2 * c - 1) << beta);
        if ((lower.integer & 1) != 0 || (lower.exact && ends)) return {hundreds, k + 2};
    }

    // The multiple of 10 nearest to y = c * 2^q * 10^-k, which lies in the interval as it is
    // 10 wide at least. y is z less half the width: r - half + 5 less up to one unit, the
    // fractions of the two, is y + 5 above the multiple of 100, so that its tenth is the
    // answer unless it is a multiple of 10, where the fractions decide.
    const std::uint32_t dist = r - half + 5;
    std::uint32_t tens = 10 * hundreds + dist / 10;
    if (dist % 10 == 0) {
        // y's integer part is r - half above the multiple of 100 where the fraction of z is
        // the larger, one less where it is smaller: told by its parity; a tie where y is an
        // integer
        const Scaled y = times(g, (2 * c) << beta);
        if (((y.integer ^ dist ^ 1) & 1) != 0) {
            --tens;
        } else if (y.exact && (tens & 1) != 0) {
            --tens;
        }
    }
    return {tens, k + 1};
}

// Schubfach for a power of two, 2^23 * 2^q, whose float below lies at half the distance of the
// one above: the interval runs from 4c - 1 to 4c + 2 in quarters of 2^q, ends included. Scaled
// by 10^-k it is from 1 to 10 wide, so that it holds one or two integers, and one multiple of
// 10 at most. Each end is scaled as g * x / 2^64 rounded down and made odd if anything was cut
// off, which compares with a multiple of four as the exact quotient would.
constexpr std::uint32_t round_to_odd(std::uint64_t g, std::uint32_t x) {
    const Product p = Product{g} * x;
    return static_cast<std::uint32_t>(p >> 64) | (static_cast<std::uint64_t>(p) >> 33 != 0);
}
constexpr Decimal power_of_two(int q) {
    constexpr std::uint32_t c = std::uint32_t{1} << 23;
    const int k = floor_log10_three_quarters_pow2(q);
    const int h = q + floor_log2_pow10(-k) + 1;  // 1 to 4: four times c * 2^q / 10^k
    const std::uint64_t g = kPowers[-k - kLeastPower].g;
    const std::uint32_t vb = round_to_odd(g, c << (h + 2));
    const std::uint32_t lower = round_to_odd(g, (4 * c - 1) << h);
    const std::uint32_t upper = round_to_odd(g, (4 * c + 2) << h);
    const std::uint32_t s = vb >> 2;  // floor(c * 2^q / 10^k)
    const std::uint32_t sp = s / 10;
    const bool ten_down_in = lower <= 40 * sp;
    const bool ten_up_in = 40 * sp + 40 <= upper;
    if (ten_down_in != ten_up_in) return {sp + ten_up_in, k + 1};
    const bool down_in = lower <= 4 * s;
    const bool up_in = 4 * s + 4 <= upper;
    if (down_in != up_in) return {s + up_in, k};
    // both in: the nearer, ties to even
    return {s + ((vb & 3) + (s & 1) > 2), k};
}

// the powers of two of the normal floats but the least, whose neighbours are evenly spaced
constexpr int kLeastPowerOfTwo = kLeastQ + 1;
constexpr std::array<Decimal, kMostQ - kLeastPowerOfTwo + 1> powers_of_two() {
    std::array<Decimal, kMostQ - kLeastPowerOfTwo + 1> digits{};
    for (int q = kLeastPowerOfTwo; q <= kMostQ; ++q)
        digits[q - kLeastPowerOfTwo] = power_of_two(q);
    return digits;
}
constexpr auto kPowerOfTwo = powers_of_two();

// ---- the text --------------------------------------------------------------------------------
//
// The digits are made in a 64-bit word, one to a byte, the first in the lowest byte, and go out
// in whole words. They are found side by side rather than one after another: a float's text is
// a long chain of steps, and the processor overlaps those of the next floats only so far.

// w's bytes, the lowest first
void store8(char* at, std::uint64_t w) {
    if constexpr (std::endian::native == std::endian::big) {
        std::uint64_t swapped = 0;
        for (int i = 0; i < 8; ++i, w >>= 8)
            swapped = swapped << 8 | (w & 0xff);
        w = swapped;
    }
    std::memcpy(at, &w, 8);
}

// the digits of 0 to 99, two bytes 0 to 9, the first in the lower byte
constexpr std::array<std::uint16_t, 100> kPairs = [] {
    std::array<std::uint16_t, 100> pairs{};
    for (int i = 0; i < 100; ++i)
        pairs[i] = static_cast<std::uint16_t>(i / 10 | (i % 10) << 8);
    return pairs;
}();

constexpr std::uint64_t kZeros = 0x3030303030303030;  // '0' in every byte

constexpr std::uint32_t kPow10[] = {1,      10,      100,      1000,      10000,
                                    100000, 1000000, 10000000, 100000000, 1000000000};

// the digits of s > 0: x * 1233 >> 12 is floor(log10 2^x) for x up to 30
int digit_count(std::uint32_t s) {
    const int guess = std::bit_width(s | 1) * 1233 >> 12;  // | 1: no test for zero
    return guess + (s >= kPow10[guess]);
}

// s * 10^k, s > 0, in the shorter of the two notations; c * 2^q is the float's exact value, for
// an integer at or past 2^24, whose fixed text has the digits of that value rather than zeros
char* put_decimal(char* at, std::uint32_t s, int k, std::uint32_t c, int q) {
    // s < 10^9 as nine digits, zeros in front: the first, and the other eight in a word
    const std::uint32_t ninth = s / 100000000;
    const std::uint32_t high5 = s / 10000;
    const std::uint32_t high4 = high5 - ninth * 10000;
    const std::uint32_t low4 = s - high5 * 10000;
    const std::uint32_t p0 = high4 / 100;
    const std::uint32_t p2 = low4 / 100;
    const std::uint64_t eight = kPairs[p0] | std::uint64_t{kPairs[high4 - 100 * p0]} << 16 |
                                std::uint64_t{kPairs[p2]} << 32 |
                                std::uint64_t{kPairs[low4 - 100 * p2]} << 48;
    // the first digit of s, and the others with zero bytes after them: the eight as they are
    // where s has nine digits, else moved down over the zeros in front
    const int length = digit_count(s);
    const std::uint32_t nine = length == 9;
    const std::uint64_t moved = eight >> 8 * (8 - length + nine);
    const std::uint32_t first = nine ? ninth : static_cast<std::uint32_t>(moved & 0xff);
    const std::uint64_t rest = nine ? eight : moved >> 8;
    // the significant digits, less the zeros at the end, and the exponent in scientific notation
    const int n = 1 + (70 - std::countl_zero(rest << 1 | 1)) / 8;  // rest may be 0
    const int e = k + length - 1;
    const char lead = static_cast<char>('0' + first);
    const std::uint64_t digits = rest | kZeros;  // a digit's byte is 0 to 9: '0' to '9'

    // Scientific takes n digits, a point after the first where there are more, and "e+XX"; fixed
    // "0." and -e - 1 zeros before the digits, or a point among them, or e + 1 digits.
    const int point = n > 1;
    if (e < -3 - point || e > n + 3 + point) {
        at[0] = lead;
        at[1] = '.';
        store8(at + 2, digits);
        at += n + point;
        const auto size = static_cast<std::uint32_t>(e < 0 ? -e : e);
        const std::uint32_t tens = size * 103 >> 10;
        at[0] = 'e';
        at[1] = e < 0 ? '-' : '+';
        at[2] = static_cast<char>('0' + tens);
        at[3] = static_cast<char>('0' + size - 10 * tens);
        return at + 4;
    }
    if (e < 0) {
        store8(at, kZeros);
        at[1] = '.';
        at[1 - e] = lead;
        store8(at + 2 - e, digits);
        return at + 1 - e + n;
    }
    if (e < n - 1) {
        at[0] = lead;
        store8(at + 1, digits);
        at[e + 1] = '.';
        store8(at + e + 2, digits >> 8 * e);
        return at + n + 1;
    }
    if (q > 0) return std::to_chars(at, at + 15, std::uint64_t{c} << q).ptr;
    at[0] = lead;
    store8(at + 1, digits);
    return at + e + 1;
}

}  // namespace

char* put_shortest(char* at, float value) {
    const auto bits = compat::bit_cast<std::uint32_t>(value);
    *at = '-';
    at += bits >> 31;
    const std::uint32_t fraction = bits & 0x7fffff;
    const std::uint32_t field = bits >> 23 & 0xff;
    if (field == 0xff) {
        std::memcpy(at, fraction != 0 ? "nan" : "inf", 3);
        return at + 3;
    }
    if ((bits & 0x7fffffff) == 0) {
        *at = '0';
        return at + 1;
    }
    // c * 2^q; a subnormal's c has no leading one, its q is the least normal float's
    const std::uint32_t c = fraction | std::uint32_t{field != 0} << 23;
    const int q = static_cast<int>(field + (field == 0)) - 150;
    Decimal d;
    if (fraction == 0 && field > 1) [[unlikely]] {  // a power of two, but the least normal float
        d = kPowerOfTwo[q - kLeastPowerOfTwo];
    } else {
        d = shortest(c, kScaling[field]);
    }
    return put_decimal(at, d.digits, d.exponent, c, q);
}

}  // namespace rokconv

// Stand-ins for the few C++20 library parts that emscripten's older libc++ lacks, chosen by the
// standard's feature-test macros: where the library has the part, the stand-in is the library's
// own, so a native build compiles exactly what it did before.
#pragma once

#include <version>

#include <charconv>
#include <cstddef>
#include <memory>
#include <system_error>

#if defined(__cpp_lib_bit_cast)
#include <bit>
#endif
#if defined(__cpp_lib_atomic_ref)
#include <atomic>
#endif
#if !defined(__cpp_lib_to_chars)
#include <fast_float/fast_float.h>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include "obj/float_text.hpp"
#endif

namespace rokconv::compat {

template <class To, class From>
[[nodiscard]] constexpr To bit_cast(const From& from) noexcept {
#if defined(__cpp_lib_bit_cast)
    return std::bit_cast<To>(from);
#else
    return __builtin_bit_cast(To, from);
#endif
}

// an array of n elements left uninitialised, as make_unique_for_overwrite<T[]> makes it
template <class T>
[[nodiscard]] std::unique_ptr<T[]> make_array_for_overwrite(std::size_t n) {
#if defined(__cpp_lib_smart_ptr_for_overwrite)
    return std::make_unique_for_overwrite<T[]>(n);
#else
    return std::unique_ptr<T[]>(new T[n]);
#endif
}

// a relaxed store into an object other threads may store into at the same time
template <class T>
void store_relaxed(T& object, T value) noexcept {
#if defined(__cpp_lib_atomic_ref)
    std::atomic_ref(object).store(value, std::memory_order_relaxed);
#else
    __atomic_store_n(&object, value, __ATOMIC_RELAXED);
#endif
}

#if defined(__cpp_lib_to_chars)
// the shortest text that reads back as value, as std::to_chars(first, last, value) writes it
template <class Number>
std::to_chars_result to_chars(char* first, char* last, Number value) {
    return std::to_chars(first, last, value);
}

inline std::from_chars_result from_chars(const char* first, const char* last, double& value) {
    return std::from_chars(first, last, value);
}
#else
namespace detail {

// the fewest significant digits (1 to 17) that read back as value, nearest first, in the
// form std::to_chars gives without a format: fixed or scientific, whichever is shorter
inline char* put_shortest_double(char* at, double value) {
    char sci[40];
    int precision = 1;
    for (; precision < 17; ++precision) {
        std::snprintf(sci, sizeof sci, "%.*e", precision - 1, value);
        if (std::strtod(sci, nullptr) == value) break;
    }
    std::snprintf(sci, sizeof sci, "%.*e", precision - 1, value);
    // sci is [-]d[.ddd]e(+|-)XX: the digits and the decimal exponent
    const char* s = sci;
    const bool negative = *s == '-';
    if (negative) ++s;
    if (*s == 'i' || *s == 'n') {
        const std::size_t n = std::strlen(sci);
        std::memcpy(at, sci, n);
        return at + n;
    }
    char digits[20];
    int count = 0;
    for (; *s != 'e'; ++s)
        if (*s != '.') digits[count++] = *s;
    const int exponent = std::atoi(s + 1);
    if (value == 0) count = 1;
    // the scientific form: d[.ddd]e(+|-)XX with at least two exponent digits
    char scientific[40];
    int ns = 0;
    scientific[ns++] = digits[0];
    if (count > 1) {
        scientific[ns++] = '.';
        for (int i = 1; i < count; ++i)
            scientific[ns++] = digits[i];
    }
    ns += std::snprintf(scientific + ns, sizeof scientific - static_cast<std::size_t>(ns),
                        "e%c%02d", exponent < 0 ? '-' : '+', exponent < 0 ? -exponent : exponent);
    // the fixed form: the digits with the point placed, zeros before or after as needed
    char fixed[400];
    int nf = 0;
    if (exponent < 0) {
        fixed[nf++] = '0';
        fixed[nf++] = '.';
        for (int i = -1; i > exponent; --i)
            fixed[nf++] = '0';
        for (int i = 0; i < count; ++i)
            fixed[nf++] = digits[i];
    } else {
        for (int i = 0; i <= exponent || i < count; ++i) {
            if (i == exponent + 1) fixed[nf++] = '.';
            fixed[nf++] = i < count ? digits[i] : '0';
        }
    }
    if (negative) *at++ = '-';
    const char* pick = nf <= ns ? fixed : scientific;
    const int n = nf <= ns ? nf : ns;
    std::memcpy(at, pick, static_cast<std::size_t>(n));
    return at + n;
}

}  // namespace detail

// integers through the library, floats through the project's own shortest writers; callers
// give room for the longest text (kShortestRoom for a float, 32 for a double)
template <class Number>
std::to_chars_result to_chars(char* first, char* last, Number value) {
    if constexpr (std::is_same_v<Number, float>) {
        return {put_shortest(first, value), std::errc{}};
    } else if constexpr (std::is_same_v<Number, double>) {
        return {detail::put_shortest_double(first, value), std::errc{}};
    } else {
        return std::to_chars(first, last, value);
    }
}

inline std::from_chars_result from_chars(const char* first, const char* last, double& value) {
    const fast_float::from_chars_result r = fast_float::from_chars(first, last, value);
    return {r.ptr, r.ec};
}
#endif

}  // namespace rokconv::compat

#include <charconv>
#include <cstring>
#include <limits>
#include <string>

#include "rok/text.hpp"

namespace rokconv {

namespace {

// reads up to n bytes from the input; fewer than n ends it
std::size_t pull(ByteSource& source, unsigned char* out, std::size_t n) {
    const std::size_t got = source.input->read(source.input->context, out, n);
    source.unread -= got < source.unread ? got : source.unread;
    source.pulled += got;
    source.ended = got < n;
    return got;
}

}  // namespace

ByteStream stream_refill(ByteStream stream, std::size_t n) {
    ByteSource& source = *stream.source;
    if (stream.pos > stream.size) {
        // a seek past the window: the bytes up to the new position are read and dropped
        std::size_t gap = stream.pos - stream.size;
        if (source.window.empty()) source.window.resize(n);
        while (gap > 0 && !source.ended) {
            const std::size_t want = gap < source.window.size() ? gap : source.window.size();
            gap -= pull(source, source.window.data(), want);
        }
        stream.data = source.window.data();
        stream.size = 0;
        stream.pos = gap;  // past the end if the input ended first
        if (source.ended) return stream;
    }
    const std::size_t keep = stream.size - stream.pos;
    if (source.window.size() < n) {
        std::vector<unsigned char> larger(n);
        if (keep > 0) std::memcpy(larger.data(), stream.data + stream.pos, keep);
        source.window.swap(larger);
    } else if (keep > 0) {
        std::memmove(source.window.data(), stream.data + stream.pos, keep);
    }
    unsigned char* window = source.window.data();
    const std::size_t want = source.window.size() - keep;
    const std::size_t got = pull(source, window + keep, want);
    stream.data = window;
    stream.size = keep + got;
    stream.pos = 0;
    return stream;
}

std::size_t stream_read(ByteStream& stream, unsigned char* out, std::size_t n) {
    stream_fill(stream, n);
    std::size_t avail = stream.pos < stream.size ? stream.size - stream.pos : 0;
    std::size_t got = n < avail ? n : avail;
    if (got > 0) std::memcpy(out, stream.data + stream.pos, got);
    stream.pos += got;
    if (got < n) stream.eof = true;
    return got;
}

void stream_skip(ByteStream& stream, std::size_t n) {
    stream.pos =
        n > std::numeric_limits<std::size_t>::max() - stream.pos ? stream.size + 1 : stream.pos + n;
    stream.eof = false;
}

char* text_line(char* buffer, std::size_t capacity, ByteStream& stream) {
    std::string_view line;
    if (capacity == 0 || !next_line(stream, line, capacity - 1)) return nullptr;
    if (!line.empty()) std::memcpy(buffer, line.data(), line.size());
    buffer[line.size()] = '\0';
    return buffer;
}

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
        ec = std::from_chars(text.data(), text.data() + text.size(), result).ec;
    } else {
        ec = std::from_chars(mantissa, number_end, result).ec;
    }
    if (ec == std::errc::result_out_of_range) {
        // a line holds at most 79 digits, so only a large exponent leaves the range: a positive
        // one overflows to infinity, a negative one underflows to zero
        result = negative_exponent ? 0.0 : std::numeric_limits<double>::infinity();
    }
    return negative ? -result : result;
}

}  // namespace rokconv

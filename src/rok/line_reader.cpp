#include <charconv>
#include <cstring>
#include <limits>
#include <string>

#include "rok/rok.hpp"

namespace rokconv {

std::size_t stream_read(ByteStream& stream, unsigned char* out, std::size_t n) {
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
    if (stream.eof || capacity == 0) return nullptr;
    const std::size_t limit = capacity - 1;
    const std::size_t avail = stream.pos < stream.size ? stream.size - stream.pos : 0;
    const std::size_t scan = avail < limit ? avail : limit;
    const unsigned char* p = stream.data + stream.pos;
    std::size_t n = 0;
    while (n < scan && p[n] != '\r' && p[n] != '\n')
        ++n;
    if (n > 0) std::memcpy(buffer, p, n);
    buffer[n] = '\0';

    if (n < scan) {
        // the line ends at a CR or LF; look at one more byte: the other half of a CR LF or LF CR
        // pair is consumed, anything else (the same terminator again included) begins the next
        // line. Finding the end here sets eof, so a file ending in a single CR or LF has eof set
        // after its last line, while one ending in a pair does not.
        const unsigned char terminator = p[n];
        stream.pos += n + 1;
        if (stream.pos >= stream.size) {
            stream.eof = true;
        } else {
            const unsigned char next = stream.data[stream.pos];
            if (next != terminator && (next == '\r' || next == '\n')) ++stream.pos;
        }
    } else if (n == limit) {
        // the buffer is full: stop without reading, so the rest of the line (or its terminator)
        // comes with the next call
        stream.pos += n;
    } else {
        // the input ran out before a terminator
        stream.pos = stream.size;
        stream.eof = true;
    }
    return buffer;
}

namespace {

bool is_space(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

bool is_digit(char c) {
    return c >= '0' && c <= '9';
}

}  // namespace

std::int32_t line_int(const char* line) {
    const char* s = line;
    while (is_space(*s))
        ++s;
    bool negative = false;
    if (*s == '+' || *s == '-') negative = *s++ == '-';
    std::uint32_t value = 0;
    for (; is_digit(*s); ++s)
        value = value * 10u + static_cast<std::uint32_t>(*s - '0');
    if (negative) value = 0u - value;
    return static_cast<std::int32_t>(value);
}

double line_real(const char* line) {
    const char* s = line;
    while (is_space(*s))
        ++s;
    bool negative = false;
    if (*s == '+' || *s == '-') negative = *s++ == '-';

    const char* const mantissa = s;
    std::size_t digits = 0;
    for (; is_digit(*s); ++s)
        ++digits;
    if (*s == '.') {
        for (++s; is_digit(*s); ++s)
            ++digits;
    }
    if (digits == 0) return 0.0;  // "-", ".", "inf", "nan" and the like hold no number

    const char* end = s;
    bool negative_exponent = false;
    char marker = *s;
    if (marker == 'e' || marker == 'E' || marker == 'd' || marker == 'D') {
        const char* e = s + 1;
        if (*e == '+' || *e == '-') negative_exponent = *e++ == '-';
        if (is_digit(*e)) {  // a marker without digits is not part of the number
            while (is_digit(*e))
                ++e;
            end = e;
        } else {
            negative_exponent = false;
            marker = '\0';
        }
    }

    double value = 0.0;
    std::errc ec{};
    if (marker == 'd' || marker == 'D') {
        // from_chars knows only e and E as the exponent marker
        std::string text(mantissa, end);
        text[static_cast<std::size_t>(s - mantissa)] = 'e';
        ec = std::from_chars(text.data(), text.data() + text.size(), value).ec;
    } else {
        ec = std::from_chars(mantissa, end, value).ec;
    }
    if (ec == std::errc::result_out_of_range) {
        // a line holds at most 79 digits, so only a large exponent leaves the range: a positive
        // one overflows to infinity, a negative one underflows to zero
        value = negative_exponent ? 0.0 : std::numeric_limits<double>::infinity();
    }
    return negative ? -value : value;
}

}  // namespace rokconv

// Reading ROK text: a byte stream over memory, the line reader, its number conversions, and the
// ROK file reader that fills a Model.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <span>
#include <string_view>

#include "model/model.hpp"

namespace rokconv {

// A buffered binary input stream over bytes already in memory. It behaves like a C stream
// opened "rb": the end-of-file indicator is set only by a read that finds no more input, one
// byte read can be pushed back, and a seek clears the indicator.
struct ByteStream {
    const unsigned char* data = nullptr;
    std::size_t size = 0;
    std::size_t pos = 0;
    bool eof = false;
};

inline ByteStream byte_stream(std::span<const unsigned char> bytes) {
    return ByteStream{bytes.data(), bytes.size(), 0, false};
}

// block read of up to n bytes; returns how many were read and sets eof if that is fewer than n
std::size_t stream_read(ByteStream& stream, unsigned char* out, std::size_t n);

// relative seek forward; may move past the end, as a file seek may, and clears eof
void stream_skip(ByteStream& stream, std::size_t n);

// the line buffer: at most 79 bytes of text and a terminating zero
inline constexpr std::size_t kLineCapacity = 80;

// Reads one line as a view into the stream's memory, at most limit bytes; the same steps as
// text_line. Returns false, leaving line as it was, when eof was already set on entry.
inline bool next_line(ByteStream& stream, std::string_view& line,
                      std::size_t limit = kLineCapacity - 1);

// Reads one line into buffer (at most capacity - 1 bytes, zero-terminated). CR LF, LF CR, a lone
// CR and a lone LF each end a line; longer lines are split. Returns buffer, or nullptr without
// touching buffer when eof was already set on entry.
char* text_line(char* buffer, std::size_t capacity, ByteStream& stream);

// Decimal integer of a line: leading white space, optional sign, digits up to the first
// non-digit. No digits gives 0; overflow wraps modulo 2^32.
std::int32_t line_int(std::string_view line);
inline std::int32_t line_int(const char* line) {
    return line_int(std::string_view(line));
}

// Decimal real of a line, correctly rounded and independent of the locale: leading white space,
// optional sign, digits, optional fraction, optional exponent introduced by e, E, d or D. Anything
// after the number is ignored; no number gives 0.0.
double line_real(std::string_view line);
inline double line_real(const char* line) {
    return line_real(std::string_view(line));
}

// the most edges one output polygon can hold (its vertex count is a U2)
inline constexpr std::int32_t kMaxPolygonEdges = 65535;

namespace detail {

// The powers of ten a double holds exactly. An integer up to 2^53 multiplied or divided by one
// of them is one correctly rounded operation, which is how plain decimals are converted.
inline constexpr double kExactPowersOfTen[] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,
                                               1e8,  1e9,  1e10, 1e11, 1e12, 1e13, 1e14, 1e15,
                                               1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};

// the first CR or LF among the n bytes at p, or n
inline std::size_t find_line_end(const unsigned char* p, std::size_t n) {
    std::size_t i = 0;
    if constexpr (std::endian::native == std::endian::little) {
        // eight bytes at a time: a byte of x ^ pattern is zero where x holds the terminator, and
        // the lowest zero byte is flagged exactly (borrows only reach the bytes above it)
        constexpr std::uint64_t kOnes = 0x0101010101010101u;
        constexpr std::uint64_t kHigh = 0x8080808080808080u;
        for (; i + 8 <= n; i += 8) {
            std::uint64_t x;
            std::memcpy(&x, p + i, 8);
            const std::uint64_t lf = x ^ (kOnes * '\n');
            const std::uint64_t cr = x ^ (kOnes * '\r');
            const std::uint64_t found = (((lf - kOnes) & ~lf) | ((cr - kOnes) & ~cr)) & kHigh;
            if (found) return i + static_cast<std::size_t>(std::countr_zero(found) / 8);
        }
    }
    while (i < n && p[i] != '\r' && p[i] != '\n')
        ++i;
    return i;
}

// The line at the stream's position ends at a CR or LF n bytes on: consume it, and look at one
// more byte. The other half of a CR LF or LF CR pair is consumed too; anything else (the same
// terminator again included) begins the next line. Finding the end here sets eof, so a file
// ending in a single CR or LF has eof set after its last line, while one ending in a pair does
// not.
inline void end_line(ByteStream& stream, std::size_t n) {
    const unsigned char terminator = stream.data[stream.pos + n];
    stream.pos += n + 1;
    if (stream.pos >= stream.size) {
        stream.eof = true;
    } else {
        const unsigned char next = stream.data[stream.pos];
        if (next != terminator && (next == '\r' || next == '\n')) ++stream.pos;
    }
}

}  // namespace detail

inline bool next_line(ByteStream& stream, std::string_view& line, std::size_t limit) {
    if (stream.eof) return false;
    const std::size_t avail = stream.pos < stream.size ? stream.size - stream.pos : 0;
    const std::size_t scan = avail < limit ? avail : limit;
    const unsigned char* p = stream.data + stream.pos;
    const std::size_t n = detail::find_line_end(p, scan);
    line = std::string_view(reinterpret_cast<const char*>(p), n);

    if (n < scan) {
        detail::end_line(stream, n);
    } else if (n == limit) {
        // the line is as long as a line may be: stop without reading, so the rest of it (or its
        // terminator) comes with the next call
        stream.pos += n;
    } else {
        // the input ran out before a terminator
        stream.pos = stream.size;
        stream.eof = true;
    }
    return true;
}

// Fills model, which must be empty, from a ROK file. Returns 0, or -1 with nothing stored when
// the file does not start with the magic (optionally after a 128-byte preamble).
[[nodiscard]] int load_rok(ByteStream& stream, Model& model);
[[nodiscard]] int load_rok(std::span<const unsigned char> bytes, Model& model);

}  // namespace rokconv

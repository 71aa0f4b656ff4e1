// Reading ROK text: a byte stream over memory, the line reader, its number conversions, and the
// ROK file reader that fills a Model.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

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

// Reads one line into buffer (at most capacity - 1 bytes, zero-terminated). CR LF, LF CR, a lone
// CR and a lone LF each end a line; longer lines are split. Returns buffer, or nullptr without
// touching buffer when eof was already set on entry.
char* text_line(char* buffer, std::size_t capacity, ByteStream& stream);

// Decimal integer of a line: leading white space, optional sign, digits up to the first
// non-digit. No digits gives 0; overflow wraps modulo 2^32.
std::int32_t line_int(const char* line);

// Decimal real of a line, correctly rounded and independent of the locale: leading white space,
// optional sign, digits, optional fraction, optional exponent introduced by e, E, d or D. Anything
// after the number is ignored; no number gives 0.0.
double line_real(const char* line);

// the most edges one output polygon can hold (its vertex count is a U2)
inline constexpr std::int32_t kMaxPolygonEdges = 65535;

// Fills model, which must be empty, from a ROK file. Returns 0, or -1 with nothing stored when
// the file does not start with the magic (optionally after a 128-byte preamble).
[[nodiscard]] int load_rok(ByteStream& stream, Model& model);
[[nodiscard]] int load_rok(std::span<const unsigned char> bytes, Model& model);

}  // namespace rokconv

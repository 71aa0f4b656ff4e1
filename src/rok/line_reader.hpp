// The ROK reader's text layer: a byte stream over memory or a window onto the input, the line
// reader, and the line maps that find many lines at once.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <span>
#include <string_view>
#include <vector>

#include "rok/words.hpp"
#include "rokconv/rok.hpp"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace rokconv {

// Where a stream's bytes come from when memory holds only a window onto the input.
struct ByteSource {
    const RokInput* input = nullptr;
    std::vector<unsigned char> window;  // its size is how much is read ahead
    bool ended = false;
    // How many bytes the input still holds beyond those read, when that is known (a file's size
    // less what has been read), else 0. Only an estimate of the model's size is drawn from it.
    std::uint64_t unread = 0;
    std::uint64_t pulled = 0;  // how many bytes were read from the input
};

// A buffered binary input stream over bytes in memory. It behaves like a C stream opened "rb":
// the end-of-file indicator is set only by a read that finds no more input, one byte read can
// be pushed back, and a seek clears the indicator. Either data holds the whole input, or it is
// the window of a source, refilled as the reading goes on.
struct ByteStream {
    const unsigned char* data = nullptr;
    std::size_t size = 0;
    std::size_t pos = 0;
    bool eof = false;
    ByteSource* source = nullptr;
};

inline ByteStream byte_stream(std::span<const unsigned char> bytes) {
    return ByteStream{bytes.data(), bytes.size(), 0, false, nullptr};
}

// a stream that reads from source into its window, starting with nothing read
inline ByteStream source_stream(ByteSource& source) {
    return ByteStream{source.window.data(), 0, 0, false, &source};
}

// Keeps the bytes from the position on and reads more behind them, so that at least n bytes
// follow the position, or all that the input still has. Views of the bytes before are lost.
// The stream goes in and comes back by value, so that a reader can keep it in registers.
ByteStream stream_refill(ByteStream stream, std::size_t n);

inline void stream_fill(ByteStream& stream, std::size_t n) {
    if (stream.source != nullptr && !stream.source->ended &&
        (stream.pos >= stream.size || stream.size - stream.pos < n)) {
        stream = stream_refill(stream, n);
    }
}

// about how many bytes the stream still holds from its position on: exact over memory, and as
// the source's unread count makes it over a window
inline std::uint64_t stream_remaining(const ByteStream& stream) {
    const std::uint64_t held = stream.pos < stream.size ? stream.size - stream.pos : 0;
    return held + (stream.source != nullptr ? stream.source->unread : 0);
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

namespace detail {

// the first CR or LF among the n bytes at p, or n
inline std::size_t find_line_end(const unsigned char* p, std::size_t n) {
    std::size_t i = 0;
    if constexpr (std::endian::native == std::endian::little) {
        // eight bytes at a time: a byte of x ^ pattern is zero where x holds the terminator, and
        // the lowest zero byte is flagged exactly (borrows only reach the bytes above it)
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

// 0x80 in each byte of v that is zero, exactly: no carry crosses from one byte to the next
inline std::uint64_t zero_bytes(std::uint64_t v) {
    constexpr std::uint64_t kLow7 = kOnes * 0x7F;
    return ~(((v & kLow7) + kLow7) | v | kLow7);
}

// the 0x80 flags of a word's bytes as one bit per byte, byte i to bit i
inline std::uint64_t byte_bits(std::uint64_t flags) {
    return ((flags >> 7) * 0x0102040810204080u) >> 56;
}

// One bit per byte of the 64 bytes at p: the CRs and the LFs, byte i to bit i.
inline void terminator_bits_portable(const unsigned char* p, std::uint64_t& cr, std::uint64_t& lf) {
    cr = 0;
    lf = 0;
    for (int w = 0; w < 8; ++w) {
        const std::uint64_t x = load_word(p + 8 * w);
        cr |= byte_bits(zero_bytes(x ^ (kOnes * '\r'))) << (8 * w);
        lf |= byte_bits(zero_bytes(x ^ (kOnes * '\n'))) << (8 * w);
    }
}

inline void terminator_bits(const unsigned char* p, std::uint64_t& cr, std::uint64_t& lf) {
#if defined(__SSE2__)
    // sixteen bytes to a compare where the processor has them
    const __m128i crs = _mm_set1_epi8('\r');
    const __m128i lfs = _mm_set1_epi8('\n');
    cr = 0;
    lf = 0;
    for (int i = 0; i < 4; ++i) {
        const __m128i x = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 16 * i));
        cr |= std::uint64_t{static_cast<std::uint16_t>(_mm_movemask_epi8(_mm_cmpeq_epi8(x, crs)))}
              << (16 * i);
        lf |= std::uint64_t{static_cast<std::uint16_t>(_mm_movemask_epi8(_mm_cmpeq_epi8(x, lfs)))}
              << (16 * i);
    }
#else
    terminator_bits_portable(p, cr, lf);
#endif
}

// Where lines end in the 64 bytes at a line's start, as one bit per byte. A bit of ends is a
// CR or LF that ends a line; a bit of pairs is the second half of a CR LF or LF CR pair, which
// is consumed with the terminator before it. Three or more terminators in a row need the bytes
// before them to be told apart, so ends stops short of such a run; it also leaves out byte 63,
// whose partner lies beyond the window. Every line found is shorter than a line may be.
struct LineMap {
    std::uint64_t ends = 0;
    std::uint64_t pairs = 0;
};

[[gnu::always_inline]] inline LineMap map_lines(const unsigned char* p) {
    std::uint64_t cr;
    std::uint64_t lf;
    terminator_bits(p, cr, lf);
    const std::uint64_t terminators = cr | lf;
    LineMap map;
    map.pairs = ((cr << 1) & lf) | ((lf << 1) & cr);
    const std::uint64_t runs = terminators & (terminators << 1) & (terminators << 2);
    const int limit = runs != 0 ? std::countr_zero(runs) - 1 : 63;
    map.ends = terminators & ~map.pairs & ((std::uint64_t{1} << limit) - 1);
    return map;
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
    stream_fill(stream, limit + 2);  // the text, its terminator and the byte after it
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

// the input offset of the stream's position
inline std::uint64_t stream_offset(const ByteStream& stream) {
    return (stream.source != nullptr ? stream.source->pulled - stream.size : 0) + stream.pos;
}

}  // namespace rokconv

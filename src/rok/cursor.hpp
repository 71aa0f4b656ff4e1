// The cursor that the record loops read lines through: the current line, and the map of the line
// ends ahead of it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>
#include <type_traits>

#include "rok/line_reader.hpp"
#include "rok/numbers.hpp"

namespace rokconv::rok {

// whether a map's ends hold at least n lines
[[gnu::always_inline]] inline bool holds_lines(std::uint64_t ends, int n) {
    for (int i = 1; i < n; ++i)
        ends &= ends - 1;
    return ends != 0;
}

// A cursor for a report (Report) also counts the line ends it takes, so that it knows the
// physical line it is on; a line the reader splits for its length is not a line of the file.
struct LineCount {
    std::uint64_t ends_taken = 0;  // CR, LF, CR LF and LF CR taken
    bool open = false;             // bytes were taken since the last of them
};
struct NoLineCount {};
template <bool Report>
using LineCountIf = std::conditional_t<Report, LineCount, NoLineCount>;

// All reading after the magic goes through one current line, a view into the input as the
// line buffer would hold it. Once eof is set every further read is a no-op that leaves the line
// as it is, which is what lets the counted loops settle the rest of a huge count at once
// instead of running it.
//
// Lines are mostly found through a map of the line ends in the next 64 bytes, so that finding
// one line does not wait on reading the one before it. The map is used only while enough input
// follows it that no line read from it can reach the end of the input; any line it cannot
// settle is read the general way. The cursor is copied into each block's loop, so that its
// state stays in registers there.
template <bool Report>
struct Cursor : LineCountIf<Report> {
    ByteStream in;
    std::string_view line;
    std::uint64_t ends = 0;   // the map's line ends not yet read
    std::uint64_t pairs = 0;  // the map's second halves of terminator pairs
    std::size_t window = 0;   // the input offset of the map's first byte
    // What follows the map: its 64 bytes, and room for the word reads of the conversions. A
    // line from the map starts within its first 63 bytes, so those reads (17 bytes at most,
    // after a sign) stay within this room and need no check.
    static constexpr std::size_t kMapRoom = 64 + 24;

    // whether the map holds the next n lines, mapping them afresh if it must
    [[gnu::always_inline]] bool holds(int n) {
        return holds_lines(ends, n) || (map_ahead() && holds_lines(ends, n));
    }

    // whether the next line can come from the map, mapping afresh if it must
    [[gnu::always_inline]] bool mapped() { return ends != 0 || map_ahead(); }

    // the physical line the next line read begins on (0 when not counted); one past the last
    // line at the end of a file that ends in a CR LF or LF CR pair
    std::uint64_t line_number() const {
        if constexpr (Report) {
            return this->ends_taken + 1;
        } else {
            return 0;
        }
    }

    // a line the general way, not from the map
    [[gnu::always_inline]] void read_line() {
        if constexpr (Report) {
            if (!next_line(in, line)) return;
            // the line ended at a terminator when the position has moved past it
            const auto end = static_cast<std::size_t>(
                reinterpret_cast<const unsigned char*>(line.data()) + line.size() - in.data);
            if (in.pos > end) {
                ++this->ends_taken;
                this->open = false;
            } else if (!line.empty()) {
                this->open = true;
            }
        } else {
            (void)next_line(in, line);
        }
    }

    // the reading of a line and its conversion are kept in the loops that use them
    [[gnu::always_inline]] std::string_view next() {
        if (!mapped()) {
            read_line();
            return line;
        }
        return take();
    }
    // the map's next line; the map holds one
    [[gnu::always_inline]] std::string_view take() {
        const int e = detail::lowest_bit(ends);
        ends &= ends - 1;
        const std::size_t end = window + static_cast<std::size_t>(e);
        line = std::string_view(reinterpret_cast<const char*>(in.data + in.pos), end - in.pos);
        in.pos = end + 1 + ((pairs >> (e + 1)) & 1);
        if constexpr (Report) {
            ++this->ends_taken;
            this->open = false;
        }
        return line;
    }
    // Maps the lines from the position on, dropping what is left of the last map (a refill
    // moves the bytes it refers to).
    [[gnu::always_inline]] bool map_ahead() {
        ends = 0;
        stream_fill(in, kMapRoom);
        if (in.eof || in.pos >= in.size || in.size - in.pos < kMapRoom) return false;
        const detail::LineMap map = detail::map_lines(in.data + in.pos);
        window = in.pos;
        ends = map.ends;
        pairs = map.pairs;
        return ends != 0;
    }

    // The next N lines at once, when one map holds them all and the first of them cannot be the
    // keyword close that closes the block (it does not start with its initial; no keyword: any
    // line will do). Finding them takes a few bit operations; the general reading is left for
    // when this fails.
    template <int N>
    [[gnu::always_inline]] bool next_lines(std::string_view (&lines)[N], std::string_view close) {
        if (!holds(N)) return false;
        if (!close.empty() && in.data[in.pos] == static_cast<unsigned char>(close[0])) return false;
        const char* const base = reinterpret_cast<const char*>(in.data + window);
        std::size_t start = in.pos - window;
        for (int i = 0; i < N; ++i) {
            const int e = detail::lowest_bit(ends);
            ends &= ends - 1;
            lines[i] = std::string_view(base + start, static_cast<std::size_t>(e) - start);
            start = static_cast<std::size_t>(e) + 1 + ((pairs >> (e + 1)) & 1);
        }
        in.pos = window + start;
        line = lines[N - 1];
        if constexpr (Report) {
            this->ends_taken += N;
            this->open = false;
        }
        return true;
    }

    // a line's number, the word reads checked against the input's end
    [[gnu::always_inline]] std::int32_t to_int(std::string_view s) const {
        return plain_int(s, in.data + in.size);
    }
    [[gnu::always_inline]] double to_real(std::string_view s) const {
        return plain_real(s, in.data + in.size);
    }

    // the next line's number; a line from the map has room behind it and needs no check
    [[gnu::always_inline]] std::int32_t next_int() {
        if (!mapped()) {
            read_line();
            return to_int(line);
        }
        return plain_int<true>(take(), nullptr);
    }
    [[gnu::always_inline]] double next_real() {
        if (!mapped()) {
            read_line();
            return to_real(line);
        }
        return plain_real<true>(take(), nullptr);
    }
    [[gnu::always_inline]] void skip(int lines) {
        for (int i = 0; i < lines; ++i)
            next();
    }
    // the whole line equals the keyword; as in the line buffer, a zero byte ends the line
    bool is(std::string_view keyword) const {
        return line.starts_with(keyword) &&
               (line.size() == keyword.size() || line[keyword.size()] == '\0');
    }
    // reads lines until one equals keyword, or the input ends; whether it came
    bool skip_past(std::string_view keyword) {
        while (!in.eof) {
            next();
            if (is(keyword)) return true;
        }
        return false;
    }
};

}  // namespace rokconv::rok

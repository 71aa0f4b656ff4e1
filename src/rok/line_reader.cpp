#include <cstring>
#include <limits>

#include "rok/line_reader.hpp"

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

}  // namespace rokconv

#include <cstring>
#include <limits>

#include "lwob/lwob.hpp"

namespace rokconv {

void chunk_open_top(Chunk& chunk, const char (&tag)[5], ByteSink& stream) {
    stream.insert(stream.end(), tag, tag + 4);
    chunk.buffer.clear();
    chunk.parent = nullptr;
    chunk.stream = &stream;
}

void chunk_open_child(Chunk& chunk, const char (&tag)[5], Chunk& parent) {
    (void)chunk_append(parent, tag, 4);
    chunk.buffer.clear();
    chunk.parent = &parent;
    chunk.stream = nullptr;
}

int chunk_append(Chunk& chunk, const void* bytes, std::size_t n) {
    const auto* p = static_cast<const unsigned char*>(bytes);
    chunk.buffer.insert(chunk.buffer.end(), p, p + n);
    return 0;
}

unsigned char* chunk_place_child(Chunk& parent, const char (&tag)[5], std::size_t n) {
    if (n > std::numeric_limits<std::uint32_t>::max()) return nullptr;
    (void)chunk_append(parent, tag, 4);
    put_u4(parent.buffer, static_cast<std::uint32_t>(n));
    const std::size_t at = parent.buffer.size();
    parent.buffer.resize(at + n);
    return parent.buffer.data() + at;
}

int chunk_close(Chunk& chunk) {
    int status = 0;
    if (chunk.buffer.size() > std::numeric_limits<std::uint32_t>::max()) {
        status = -1;
    } else {
        std::vector<unsigned char>& out = chunk.stream ? *chunk.stream : chunk.parent->buffer;
        const auto length = static_cast<std::uint32_t>(chunk.buffer.size());
        put_u4(out, length);
        out.insert(out.end(), chunk.buffer.begin(), chunk.buffer.end());
    }
    // release the buffer: the child chunk is reused for one chunk after another
    chunk.buffer = std::vector<unsigned char>();
    chunk.parent = nullptr;
    chunk.stream = nullptr;
    return status;
}

}  // namespace rokconv

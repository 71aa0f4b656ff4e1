#include <cstring>
#include <limits>

#include "lwob/encode.hpp"
#include "lwob/writer.hpp"

namespace rokconv {

void chunk_open_top(Chunk& chunk, const char (&tag)[5], ByteSink& stream) {
    stream.insert(stream.end(), tag, tag + 4);
    chunk.buffer.clear();
    chunk.parent = nullptr;
    chunk.stream = &stream;
}

void chunk_open_child(Chunk& chunk, const char (&tag)[5], Chunk& parent) {
    chunk_append(parent, tag, 4);
    chunk.buffer.clear();
    chunk.parent = &parent;
    chunk.stream = nullptr;
}

void chunk_append(Chunk& chunk, const void* bytes, std::size_t n) {
    const auto* p = static_cast<const unsigned char*>(bytes);
    chunk.buffer.insert(chunk.buffer.end(), p, p + n);
}

unsigned char* chunk_place_child(Chunk& parent, const char (&tag)[5], std::size_t n) {
    if (n > std::numeric_limits<std::uint32_t>::max()) return nullptr;
    chunk_append(parent, tag, 4);
    put_u4(parent.buffer, static_cast<std::uint32_t>(n));
    const std::size_t at = parent.buffer.size();
    parent.buffer.resize(at + n);
    return parent.buffer.data() + at;
}

bool chunk_close(Chunk& chunk) {
    bool fits = true;
    if (chunk.buffer.size() > std::numeric_limits<std::uint32_t>::max()) {
        fits = false;
    } else if (chunk.stream != nullptr && chunk.stream->size() == 4 &&
               chunk.buffer.capacity() - chunk.buffer.size() >= 8) {
        // A top-level chunk alone in its sink (the FORM that makes up the whole file): its
        // buffer becomes the sink, with the tag and the length moved in front, so the contents
        // are not copied into new memory.
        ByteSink& out = *chunk.stream;
        unsigned char header[8];
        std::memcpy(header, out.data(), 4);
        store_u4(header + 4, static_cast<std::uint32_t>(chunk.buffer.size()));
        chunk.buffer.insert(chunk.buffer.begin(), header, header + 8);
        out.swap(chunk.buffer);
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
    return fits;
}

}  // namespace rokconv

// A test-side reader of the files the writer makes: walks the FORM and checks every length.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace rokconv {

struct IffChunk {
    std::string tag;
    std::size_t offset = 0;  // of the data
    std::uint32_t length = 0;
};

inline std::uint32_t read_u4(const std::vector<unsigned char>& b, std::size_t at) {
    return std::uint32_t{b[at]} << 24 | std::uint32_t{b[at + 1]} << 16 |
           std::uint32_t{b[at + 2]} << 8 | b[at + 3];
}

inline std::uint32_t read_u2(const std::vector<unsigned char>& b, std::size_t at) {
    return std::uint32_t{b[at]} << 8 | b[at + 1];
}

// the chunks inside a FORM LWOB, or none if the FORM itself is malformed
inline std::vector<IffChunk> form_chunks(const std::vector<unsigned char>& b) {
    std::vector<IffChunk> out;
    if (b.size() < 12 || std::string(b.begin(), b.begin() + 4) != "FORM" ||
        read_u4(b, 4) != b.size() - 8 || std::string(b.begin() + 8, b.begin() + 12) != "LWOB") {
        return out;
    }
    for (std::size_t at = 12; at + 8 <= b.size();) {
        IffChunk c{std::string(b.begin() + at, b.begin() + at + 4), at + 8, read_u4(b, at + 4)};
        if (c.length > b.size() - c.offset) break;
        out.push_back(c);
        at = c.offset + c.length;
    }
    return out;
}

// Checks the whole structure: FORM length, each chunk inside it exactly, even lengths, PNTS a
// multiple of 12, every POLS record complete, every SURF sub-chunk inside its SURF.
inline bool check_lwob(const std::vector<unsigned char>& b, std::string& error) {
    const std::vector<IffChunk> chunks = form_chunks(b);
    std::size_t end = 12;
    for (const IffChunk& c : chunks)
        end = c.offset + c.length;
    if (chunks.size() < 3 || end != b.size()) return error = "FORM length or chunk lengths", false;
    if (chunks[0].tag != "SRFS" || chunks[1].tag != "PNTS" || chunks[2].tag != "POLS") {
        return error = "chunk order", false;
    }
    for (const IffChunk& c : chunks) {
        if (c.length % 2 != 0) return error = c.tag + " has odd length", false;
        if (c.tag == "PNTS" && c.length % 12 != 0) return error = "PNTS not whole points", false;
        if (c.tag == "POLS") {
            std::size_t at = c.offset;
            const std::size_t stop = c.offset + c.length;
            while (at < stop) {
                if (stop - at < 2) return error = "POLS count cut", false;
                const std::size_t record = 2 + 2 * std::size_t{read_u2(b, at)} + 2;
                if (record > stop - at) return error = "POLS record cut", false;
                at += record;
            }
        }
        if (c.tag == "SURF") {
            std::size_t at = c.offset;
            while (at < c.offset + c.length && b[at] != 0)
                ++at;
            at += 2 - (at - c.offset) % 2;  // the terminator, padded to even
            while (at + 6 <= c.offset + c.length)
                at += 6 + read_u2(b, at + 4);
            if (at != c.offset + c.length) return error = "SURF sub-chunks", false;
        }
    }
    return true;
}

}  // namespace rokconv

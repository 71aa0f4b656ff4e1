// Reading ROK files into a Model, and what a damaged file lost on the way.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "rokconv/model.hpp"

namespace rokconv {

enum class LoadStatus {
    ok,             // the file was read to its end; damaged parts are repaired or left out
    not_rok,        // no "ROKU4" magic at the start or after a 128-byte preamble: nothing stored
    read_error,     // the input could not be read (the model holds what came before)
    out_of_memory,  // the model did not fit in memory (it holds what came before)
};

// An input read a block at a time, so a large file is never held whole.
struct RokInput {
    void* context = nullptr;
    // puts up to n bytes at out and returns how many; fewer than n means the input has ended
    std::size_t (*read)(void* context, unsigned char* out, std::size_t n) = nullptr;
    // asked once the input has ended: whether it ended in an error (may be left null)
    bool (*failed)(void* context) = nullptr;
    // the input's size in bytes when known, else 0; used to size the model's tables
    std::uint64_t size = 0;
    // May be left null. Where set, it puts up to n bytes from the given offset at out and
    // returns how many, fewer than n meaning the input ends there or could not be read (which
    // failed then tells); it must not change what read reads next. A large input (8 MiB or
    // more) may then be read by two threads at once, this one calling read and another read_at.
    std::size_t (*read_at)(void* context, std::uint64_t offset, unsigned char* out,
                           std::size_t n) = nullptr;
};

// how often something happened, and the 1-based line of the file where the first one began
// (0 while count is 0, or where the line is not known)
struct Tally {
    std::uint64_t count = 0;
    std::uint64_t first_line = 0;
    friend bool operator==(const Tally&, const Tally&) = default;
};

// the parts of a ROK file, in the order the reader meets them
enum class RokBlock { header, points, edges, faces, palette, background, light, view, lines };

// What the reader repaired and left out of a file, and where each kept record begins.
struct LoadReport {
    // The file ended inside a block (before its closing keyword) or inside a record; cut_in names
    // that block (header: before the "POINT" line) and cut_line is the file's last line.
    bool cut_short = false;
    RokBlock cut_in = RokBlock::header;
    std::uint64_t cut_line = 0;
    Tally faces_edge_outside;  // faces left out: an edge number outside the edge table
    Tally faces_bad_count;     // faces left out: a negative edge count, or more than kMaxFaceEdges
    Tally lines_edge_outside;  // LINE2 records left out: an edge number outside the edge table
    std::uint64_t lines = 0;   // the lines the file holds
    // the line where each kept face's record begins, one a Model::faces entry
    std::vector<std::uint64_t> face_line;
    // the line where each kept LINE2 record begins, one a Model::lines entry
    std::vector<std::uint64_t> line_line;
    friend bool operator==(const LoadReport&, const LoadReport&) = default;
};

struct LoadOptions {
    // threads the reader may use: 1 starts none, 0 one a core (a large file with read_at, or
    // in memory, is then read by two threads)
    unsigned threads = 0;
    // where given (and empty), filled with what the reader repaired and where each face's and
    // line's record begins; counting lines costs some speed
    LoadReport* report = nullptr;
};

// Fills model, which must be empty, from a whole ROK file in memory or one read through input.
// A file that is not ROK leaves the report empty.
[[nodiscard]] LoadStatus load_rok(std::span<const unsigned char> bytes, Model& model,
                                  const LoadOptions& options = {});
[[nodiscard]] LoadStatus load_rok(const RokInput& input, Model& model,
                                  const LoadOptions& options = {});

}  // namespace rokconv

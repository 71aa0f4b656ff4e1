// Reading ROK files into a Model.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

#include "rokconv/model.hpp"

namespace rokconv {

enum class LoadStatus {
    ok,             // the file was read to its end; damaged parts are repaired or left out
    not_rok,        // no "ROKU4" magic at the start or after a 128-byte preamble: nothing stored
    read_error,     // the input could not be read (the model holds what came before)
    out_of_memory,  // the model did not fit in memory (it holds what came before)
};

// Fills model, which must be empty, from a whole ROK file in memory; one of 8 MiB or more is
// read by two threads at once.
[[nodiscard]] LoadStatus load_rok(std::span<const unsigned char> bytes, Model& model);

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
    // more) is then read by two threads at once, this one calling read and another read_at.
    std::size_t (*read_at)(void* context, std::uint64_t offset, unsigned char* out,
                           std::size_t n) = nullptr;
};

// Fills model, which must be empty, from a ROK file read through input.
[[nodiscard]] LoadStatus load_rok(const RokInput& input, Model& model);

}  // namespace rokconv

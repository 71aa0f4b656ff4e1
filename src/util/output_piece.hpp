// The buffer a writer makes one piece of its output in, apart from the other pieces.
#pragma once

#include <cstddef>
#include <memory>
#include <span>

#include "util/compat.hpp"

namespace rokconv {

// A piece of an output made apart from the others, as in_order makes them: room for the most it
// may take, kept from one piece to the next and not cleared, and the bytes made in it.
struct OutputPiece {
    std::unique_ptr<char[]> data;
    std::size_t room = 0;
    std::size_t size = 0;

    // room for most bytes, where the piece is made from the start
    char* begin(std::size_t most) {
        if (most > room) {
            data.reset();
            data = compat::make_array_for_overwrite<char>(most);
            room = most;
        }
        return data.get();
    }
    // the piece ends at at
    void end(const char* at) { size = static_cast<std::size_t>(at - data.get()); }
    std::span<const unsigned char> bytes() const {
        return {reinterpret_cast<const unsigned char*>(data.get()), size};
    }
};

}  // namespace rokconv

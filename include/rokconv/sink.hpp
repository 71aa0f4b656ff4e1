// Where a writer may hand its output as it is made.
#pragma once

#include <span>

namespace rokconv {

// Where a writer hands its output, piece by piece and in order, so that a large output need
// not be held whole: put is called with each piece.
struct OutputSink {
    void* context = nullptr;
    void (*put)(void* context, std::span<const unsigned char> bytes) = nullptr;
};

}  // namespace rokconv

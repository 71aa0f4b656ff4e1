// How every writer answers its caller: no exception leaves it, and its outputs are as they were
// unless it succeeds.
#pragma once

#include <cstddef>
#include <initializer_list>
#include <new>
#include <stdexcept>
#include <vector>

#include "rokconv/sink.hpp"
#include "rokconv/status.hpp"

namespace rokconv {

// the sink that appends to a byte buffer, for the writers' forms that fill one
inline OutputSink append_to(std::vector<unsigned char>& out) {
    return OutputSink{&out, [](void* context, std::span<const unsigned char> bytes) {
                          auto& to = *static_cast<std::vector<unsigned char>*>(context);
                          to.insert(to.end(), bytes.begin(), bytes.end());
                      }};
}

// Runs write(), which appends to the outputs; on any status but ok, or a failed allocation
// (out_of_memory), the outputs are cut back to their sizes before it.
template <class Write>
SaveStatus guarded(std::initializer_list<std::vector<unsigned char>*> outputs, Write write) {
    std::vector<std::size_t> sizes;  // all of them before write runs
    SaveStatus status;
    try {
        for (const auto* out : outputs)
            sizes.push_back(out->size());
        status = write();
    } catch (const std::bad_alloc&) {
        status = SaveStatus::out_of_memory;
    } catch (const std::length_error&) {
        status = SaveStatus::out_of_memory;
    }
    if (status != SaveStatus::ok) {
        std::size_t k = 0;
        for (auto* out : outputs) {
            if (k < sizes.size()) out->resize(sizes[k++]);
        }
    }
    return status;
}

}  // namespace rokconv

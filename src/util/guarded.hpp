// How every writer answers its caller: no exception leaves it, and its outputs are as they were
// unless it succeeds.
#pragma once

#include <cstddef>
#include <exception>
#include <new>
#include <stdexcept>
#include <vector>

#include "rokconv/format.hpp"

namespace rokconv {

// what put throws when a file's sink will not take the bytes; guarded makes it write_failed
struct WriteFailed {};

// Hands bytes to file: appends them to its buffer, or puts them to its sink.
inline void put(const OutputFile& file, std::span<const unsigned char> bytes) {
    if (file.bytes != nullptr) {
        file.bytes->insert(file.bytes->end(), bytes.begin(), bytes.end());
    } else if (file.sink.put == nullptr || !file.sink.put(file.sink.context, bytes)) {
        throw WriteFailed{};
    }
}

// Runs write(), which appends to output's files; on any status but ok, or an exception, the
// buffers among them are cut back to their sizes before it.
template <class Write>
SaveStatus guarded(const Output& output, Write write) {
    std::vector<unsigned char>* const buffers[] = {output.file.bytes, output.beside.bytes};
    std::size_t sizes[2] = {};
    for (int k = 0; k < 2; ++k)
        sizes[k] = buffers[k] != nullptr ? buffers[k]->size() : 0;
    SaveStatus status = SaveStatus::failed;
    try {
        status = write();
    } catch (const std::bad_alloc&) {
        status = SaveStatus::out_of_memory;
    } catch (const std::length_error&) {
        status = SaveStatus::out_of_memory;  // a table past its largest size
    } catch (const WriteFailed&) {
        status = SaveStatus::write_failed;
    } catch (const std::exception&) {
        status = SaveStatus::failed;
    }
    if (status != SaveStatus::ok) {
        for (int k = 0; k < 2; ++k)
            if (buffers[k] != nullptr) buffers[k]->resize(sizes[k]);
    }
    return status;
}

}  // namespace rokconv

// Where a writer puts the files it makes.
#pragma once

#include <span>
#include <string_view>
#include <vector>

namespace rokconv {

// Takes a file's bytes piece by piece, in order, so that a large file need not be held whole.
// put returns false when the bytes could not be written: the writer then stops at once and
// returns SaveStatus::write_failed.
struct OutputSink {
    void* context = nullptr;
    bool (*put)(void* context, std::span<const unsigned char> bytes) = nullptr;
};

// One file: appended to bytes where bytes is set, else handed to sink. Bytes are cut back to
// their size before the call when it fails; what a sink was given is then not a whole file.
struct OutputFile {
    std::vector<unsigned char>* bytes = nullptr;
    OutputSink sink;
};

// A format's files: the model's own, and the one beside it that some formats also make (OBJ's
// materials, glTF's buffer as JSON refers to it), named beside_name for the model's file to
// refer to. The writers of one-file formats leave beside alone.
struct Output {
    OutputFile file;
    OutputFile beside;
    std::string_view beside_name;
};

// the output into byte buffers: the model's file appended to file, the one beside it to beside
Output to_bytes(std::vector<unsigned char>& file, std::vector<unsigned char>* beside = nullptr,
                std::string_view beside_name = {});

}  // namespace rokconv

// The command-line driver: argument handling, file access, output naming and messages.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace rokconv {

// Length in bytes of the character that starts at text, rest > 0 bytes being left in the path.
// Path names are scanned a character at a time, so that the trail byte of a double-byte
// character is never taken for a separator or a dot.
using CharLength = std::size_t (*)(const char* text, std::size_t rest);

// the rule of the process's LC_CTYPE; a byte that does not begin a valid character is one
// character by itself
std::size_t locale_char_length(const char* text, std::size_t rest);

// the part of path after its last '/', '\' or ':'
std::string base_name(std::string_view path, CharLength char_length = locale_char_length);

// replaces the extension of name (from its last '.' not followed by a separator) or appends one
void set_extension(std::string& name, std::string_view extension,
                   CharLength char_length = locale_char_length);

enum class Format { lwo, obj, glb, gltf };

enum class Outcome {
    converted,
    not_rok,  // nothing written and nothing said
    failed,   // what went wrong has been printed
};

// Converts the ROK file at path into <name>.LWO (or .obj and .mtl, .glb, .gltf and .bin) in the
// current directory, printing what went wrong.
[[nodiscard]] Outcome convert_file(const char* path, Format format = Format::lwo);

// the whole program, from the arguments to the exit status
[[nodiscard]] int run(int argc, const char* const* argv);

}  // namespace rokconv

#include <cwchar>

#include "app/app.hpp"

namespace rokconv {

namespace {

bool is_separator(char c) {
    return c == '/' || c == '\\' || c == ':';
}

// steps through path one character at a time, never past its end
template <class Visit>
void scan_characters(std::string_view path, CharLength char_length, Visit visit) {
    for (std::size_t i = 0; i < path.size();) {
        const std::size_t rest = path.size() - i;
        std::size_t len = char_length(path.data() + i, rest);
        if (len == 0 || len > rest) len = len == 0 ? 1 : rest;
        // only single-byte characters are tested
        if (len == 1) visit(i, path[i]);
        i += len;
    }
}

}  // namespace

std::size_t locale_char_length(const char* text, std::size_t rest) {
    std::mbstate_t state{};
    const std::size_t len = std::mbrlen(text, rest, &state);
    // 0 for a zero byte, (size_t)-1 for an invalid sequence, (size_t)-2 for one cut short
    if (len == 0 || len == static_cast<std::size_t>(-1) || len == static_cast<std::size_t>(-2)) {
        return 1;
    }
    return len;
}

std::string base_name(std::string_view path, CharLength char_length) {
    std::size_t start = 0;
    scan_characters(path, char_length, [&](std::size_t i, char c) {
        if (is_separator(c)) start = i + 1;
    });
    return std::string(path.substr(start));
}

void set_extension(std::string& name, std::string_view extension, CharLength char_length) {
    std::size_t mark = std::string::npos;
    scan_characters(name, char_length, [&](std::size_t i, char c) {
        if (c == '.') {
            mark = i;
        } else if (is_separator(c)) {
            mark = std::string::npos;
        }
    });
    if (mark != std::string::npos) name.resize(mark);
    name += extension;
}

}  // namespace rokconv

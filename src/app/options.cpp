#include <sys/stat.h>

#include <algorithm>
#include <cctype>
#include <charconv>
#include <iterator>
#include <string>
#include <string_view>
#include <vector>

#include "app/app.hpp"

#ifndef ROKCONV_VERSION
#define ROKCONV_VERSION "0.0.0"
#endif

namespace rokconv {

const char* const kVersion = ROKCONV_VERSION;

const char* const kBanner =
    "rokconv " ROKCONV_VERSION
    " - converts ROK models into LightWave objects (LWOB), Wavefront OBJ or glTF 2.0\n";
namespace {

constexpr std::string_view kColumn = "                         ";  // where option texts start

// words laid out in lines of at most 88 columns, the first after lead, the rest after kColumn
std::string wrapped(std::string_view lead, std::string_view words) {
    constexpr std::size_t kWidth = 88;
    std::string out(lead);
    std::size_t line = 0;  // where the current line starts
    bool first = true;
    while (!words.empty()) {
        const std::size_t space = words.find(' ');
        const std::string_view word = words.substr(0, space);
        words = space == std::string_view::npos ? std::string_view{} : words.substr(space + 1);
        if (!first && out.size() - line + 1 + word.size() > kWidth) {
            out += '\n';
            line = out.size();
            out += kColumn;
        } else if (!first) {
            out += ' ';
        }
        out += word;
        first = false;
    }
    return out + '\n';
}

// "a, b or c", or with another last word
std::string listed(const std::vector<std::string>& items, std::string_view last = " or ") {
    std::string out;
    for (std::size_t i = 0; i < items.size(); ++i) {
        if (i > 0) out += i + 1 == items.size() ? last : ", ";
        out += items[i];
    }
    return out;
}

std::string lower(std::string_view text) {
    std::string out(text);
    for (char& c : out)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return out;
}

// each format's extension as -o takes it, in lower case: ".lwo"
std::vector<std::string> extensions() {
    std::vector<std::string> out;
    for (const FormatInfo& row : formats())
        out.push_back(lower(row.extension));
    return out;
}

// the formats that make one file, which alone can go to standard output
std::vector<std::string> one_file_formats() {
    std::vector<std::string> out;
    for (const FormatInfo& row : formats()) {
        if (row.beside_extension.empty()) out.emplace_back(row.name);
    }
    return out;
}

}  // namespace

std::string usage() {
    std::string text =
        "usage: rokconv [OPTIONS] FILE...\n"
        "  Reads each ROK model FILE and writes it as a LightWave object into the current\n"
        "  directory, named after FILE with the extension .LWO (car.rok gives car.LWO).\n"
        "  FILE - is standard input, whose output is named stdin.LWO.\n";
    std::string_view lead = "  -f, --format FORMAT    ";
    for (const FormatInfo& row : formats()) {
        text.append(lead).append(row.name).append(": ").append(row.help) += '\n';
        lead = kColumn;
    }
    text += "  -d, --output-dir DIR   write the outputs into DIR, which must exist\n";
    std::string extension_list;
    for (const std::string& extension : extensions())
        extension_list += (extension_list.empty() ? "" : ", ") + extension;
    text += wrapped("  -o, --output PATH      ",
                    "name the output of the only FILE; its extension (" + extension_list +
                        ") chooses the format unless -f does; - writes the output to standard "
                        "output (" +
                        listed(one_file_formats(), " and ") + " only)");
    text +=
        "  -j, --jobs N           convert up to N files at once (default 1; 0: one a core)\n"
        "  -v, --verbose          say what was repaired in a damaged file, and which files are\n"
        "                         skipped as not ROK\n"
        "  -q, --quiet            show no progress line\n"
        "      --info             report what each FILE holds and what was repaired or left\n"
        "                         out, writing nothing\n"
        "      --json             with --info: one JSON object a file, a line each\n"
        "  -h, --help             show this text\n"
        "      --version          show the version\n"
        "  --                     ends the options: a FILE beginning with - may follow, or be\n"
        "                         given as ./-name\n";
    return text;
}

namespace {

bool format_named(std::string_view name, Format& format) {
    for (const FormatInfo& row : formats()) {
        if (row.name == name) {
            format = row.format;
            return true;
        }
    }
    return false;
}

// the format an output path's extension names, in any case
bool format_of_path(std::string_view path, Format& format) {
    const std::string name = base_name(path);
    const std::size_t dot = name.rfind('.');
    if (dot == std::string::npos) return false;
    const std::string extension = lower(std::string_view(name).substr(dot));
    for (const FormatInfo& row : formats()) {
        if (lower(row.extension) == extension) {
            format = row.format;
            return true;
        }
    }
    return false;
}

bool is_directory(const std::string& path) {
    struct stat st;
    return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

// whether the options make sense together; error says why not
bool consistent(Options& o, std::string& error) {
    if (o.json && !o.info) {
        error = "--json goes with --info";
        return false;
    }
    if (o.info && (!o.output.empty() || !o.output_dir.empty())) {
        error = "--info writes nothing: -o and -d do not go with it";
        return false;
    }
    if (!o.output.empty()) {
        if (o.files.size() > 1) {
            error = "-o names the output of one FILE, and " + std::to_string(o.files.size()) +
                    " are given";
            return false;
        }
        if (!o.output_dir.empty()) {
            error = "-o and -d do not go together: give the folder in the path of -o";
            return false;
        }
        if (o.output == "-") {
            if (!format_info(o.format).beside_extension.empty()) {
                error = "-o - writes one file: the format must be " + listed(one_file_formats());
                return false;
            }
        } else if (!o.format_given && !format_of_path(o.output, o.format)) {
            const std::string name = base_name(o.output);
            const std::size_t dot = name.rfind('.');
            const std::string known = listed(extensions());
            error = dot == std::string::npos
                        ? "-o " + o.output + " has no extension: give -f, or end it in " + known
                        : "unknown output extension: " + name.substr(dot) + " (give -f, or use " +
                              known + ")";
            return false;
        }
    }
    if (!o.output_dir.empty() && !is_directory(o.output_dir)) {
        error = "no such folder: " + o.output_dir;
        return false;
    }
    return true;
}

}  // namespace

Parsed parse_arguments(int argc, const char* const* argv, Options& o, std::string& error) {
    bool options_ended = false;
    for (int i = 1; i < argc; ++i) {
        const std::string_view arg = argv[i];
        if (options_ended || arg == "-" || !arg.starts_with("-")) {
            o.files.emplace_back(arg);
            continue;
        }
        if (arg == "--") {
            options_ended = true;
            continue;
        }
        if (arg == "-h" || arg == "--help") return Parsed::help;
        if (arg == "--version") return Parsed::version;
        if (arg == "-v" || arg == "--verbose") {
            o.verbose = true;
            continue;
        }
        if (arg == "-q" || arg == "--quiet") {
            o.quiet = true;
            continue;
        }
        if (arg == "--info") {
            o.info = true;
            continue;
        }
        if (arg == "--json") {
            o.json = true;
            continue;
        }
        // the options with a value: "-f obj", "-fobj", "--format obj" and "--format=obj"
        struct Valued {
            char short_name;
            std::string_view long_name;
        };
        constexpr Valued kValued[] = {
            {'f', "--format"}, {'d', "--output-dir"}, {'o', "--output"}, {'j', "--jobs"}};
        const Valued* option = nullptr;
        std::string_view value;
        bool has_value = false;
        for (const Valued& v : kValued) {
            if (arg.size() >= 2 && arg[1] == v.short_name) {
                option = &v;
                has_value = arg.size() > 2;
                value = arg.substr(2);
            } else if (arg == v.long_name ||
                       (arg.starts_with(v.long_name) && arg[v.long_name.size()] == '=')) {
                option = &v;
                has_value = arg.size() > v.long_name.size();
                value = has_value ? arg.substr(v.long_name.size() + 1) : std::string_view{};
            }
            if (option != nullptr) break;
        }
        if (option == nullptr) {
            error = "unknown option: " + std::string(arg);
            return Parsed::wrong;
        }
        if (!has_value) {
            if (i + 1 == argc) {
                error = "missing value: " + std::string(arg);
                return Parsed::wrong;
            }
            value = argv[++i];
        }
        switch (option->short_name) {
            case 'f':
                if (!format_named(value, o.format)) {
                    error = "unknown format: " + std::string(value);
                    return Parsed::wrong;
                }
                o.format_given = true;
                break;
            case 'd':
                o.output_dir = value;
                break;
            case 'o':
                o.output = value;
                break;
            default: {
                const auto [end, ec] =
                    std::from_chars(value.data(), value.data() + value.size(), o.jobs);
                if (ec != std::errc{} || end != value.data() + value.size() || value.empty()) {
                    error = "not a number of jobs: " + std::string(value);
                    return Parsed::wrong;
                }
                break;
            }
        }
        if (value.empty()) {
            error = "missing value: " + std::string(arg);
            return Parsed::wrong;
        }
    }
    if (o.files.empty()) return Parsed::wrong;
    return consistent(o, error) ? Parsed::run : Parsed::wrong;
}

}  // namespace rokconv

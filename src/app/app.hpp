// The command-line driver: argument handling, file access, output naming and messages.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "rokconv/format.hpp"

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

// what the command line asks for
struct Options {
    Format format = Format::lwo;
    bool format_given = false;
    std::string output_dir;  // -d: where outputs go; empty for the current directory
    std::string output;      // -o: the single input's output, "-" for standard output
    unsigned jobs = 1;       // files converted at once; 0 asks for one a core
    unsigned threads = 0;    // each file's share of the cores, as the library takes it
    bool info = false;       // --info: report on each file, writing nothing
    bool json = false;       // --info as JSON Lines
    bool verbose = false;
    bool quiet = false;
    std::vector<std::string> files;  // "-" is standard input
};

enum class Parsed {
    run,
    help,     // --help: banner and usage on standard output, status 0
    version,  // --version
    wrong,    // an argument error: error says what, if anything more than the usage
};

[[nodiscard]] Parsed parse_arguments(int argc, const char* const* argv, Options& options,
                                     std::string& error);

// the version, the banner line and the usage text after it
extern const char* const kVersion;
extern const char* const kBanner;
std::string usage();

enum class Outcome {
    converted,
    not_rok,  // nothing written
    failed,   // what went wrong is in the messages
};

// One input and where its outputs go, as planned from the arguments before any is read.
struct Job {
    std::string input;                 // as typed; "-" for standard input
    std::vector<std::string> outputs;  // the format's files; "-" alone for standard output
    std::string clash;                 // an output name an earlier job of the run has, if any
};

struct JobResult {
    Outcome outcome = Outcome::failed;
    std::string messages;  // the file's messages, in order, each line ended by '\n'
    std::uint64_t bytes_read = 0;
};

// the jobs for the files the options name, each output name checked against those before
[[nodiscard]] std::vector<Job> plan_jobs(const Options& options);

// Converts one job's input into its outputs, gathering what is said about it.
[[nodiscard]] JobResult convert_job(const Job& job, const Options& options);

// Reads one job's input and reports what it holds and what was repaired, writing nothing.
[[nodiscard]] JobResult inspect_job(const Job& job, const Options& options);

// the whole program, from the arguments to the exit status
[[nodiscard]] int run(int argc, const char* const* argv);

}  // namespace rokconv

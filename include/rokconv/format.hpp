// The formats a Model is written in: one call shape for all of them, and one table that says
// what each format is.
#pragma once

#include <span>
#include <string_view>

#include "rokconv/model.hpp"
#include "rokconv/output.hpp"
#include "rokconv/report.hpp"

namespace rokconv {

enum class Format { lwo, obj, glb, gltf, stl };

enum class SaveStatus {
    ok,
    invalid_model,  // a face or line refers past the model's tables, or has a negative edge count
    too_large,      // more than the format can hold: in LWOB a face of more than 65,535 edges or a
                    // chunk past 4 GiB; in glTF a binary file past 4 GiB; in STL more than 2^32 - 1
                    // triangles
    out_of_memory,
    write_failed,  // an output sink could not take the bytes, or no output was given
    failed,        // anything else went wrong inside the writer
};

struct SaveOptions {
    // threads the writer may use: 1 starts none, 0 one a core (up to 4); a model of fewer than
    // 50,000 points is written on the caller's thread whatever the number
    unsigned threads = 0;
    // the reader's report of the model, where there is one: it places what is left out by line
    const LoadReport* report = nullptr;
};

// What a format leaves out of a model, or cannot show as the model holds it, each counted with
// the line where the first one's record begins (0 without SaveOptions::report). A format counts
// only the kinds its FormatInfo::left_out names.
struct LeftOut {
    Tally faces_point_outside;  // faces naming a point outside the point table
    Tally lines_point_outside;
    Tally faces_not_finite;  // faces using a point whose scaled position is not a finite float
    Tally lines_not_finite;
    // faces without area: in glTF and STL fewer than 3 distinct points or all on one line, in
    // OBJ faces of no points
    Tally faces_without_area;
    // LWOB draws every face and line, but keeps only the low 16 bits of a vertex number
    Tally faces_point_past_65536;
    Tally lines_point_past_65536;
    Tally lines_not_held;  // lines a format of triangles alone cannot hold
};

// one kind of what a format leaves out: its JSON key, its words in a report, and its tally
struct LeftOutKind {
    std::string_view key;
    std::string_view words;
    Tally LeftOut::*tally;
};

// Writes model in a format into output. Every format's writer has this form.
using SaveFunction = SaveStatus (*)(const Model& model, const Output& output,
                                    const SaveOptions& options, LeftOut* left_out);
// Counts what a format leaves out of model, writing nothing.
using CountFunction = SaveStatus (*)(const Model& model, const SaveOptions& options,
                                     LeftOut& left_out);

struct FormatInfo {
    Format format;
    std::string_view name;              // as -f takes it: "lwo"
    std::string_view extension;         // the model's file: ".LWO"
    std::string_view beside_extension;  // the file beside it, or empty: ".mtl"
    std::string_view help;              // what it is, for a usage text
    std::string_view title;             // in a report: "LWOB"
    std::string_view json_key;          // in a JSON report: "lwo"
    std::string_view left_out_words;    // before what it leaves out: "left out of"
    std::span<const LeftOutKind> left_out;
    bool streams;   // its model's file is handed to a sink as it is made, not held whole first
    bool reported;  // a report names it when no format is asked for
    SaveFunction save;
    CountFunction count;
};

// every format, in the order a usage text names them; the first is the default
std::span<const FormatInfo> formats();
const FormatInfo& format_info(Format format);

[[nodiscard]] SaveStatus save(const Model& model, Format format, const Output& output,
                              const SaveOptions& options = {}, LeftOut* left_out = nullptr);
// what saving model in format would leave out, without writing it
[[nodiscard]] SaveStatus count_left_out(const Model& model, Format format, LeftOut& left_out,
                                        const SaveOptions& options = {});

}  // namespace rokconv

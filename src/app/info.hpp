// What the program says about a file's contents: the --info report, and the repairs that
// --verbose names during a conversion.
#pragma once

#include <span>
#include <string>
#include <string_view>

#include "app/app.hpp"
#include "rokconv/lwob.hpp"
#include "rokconv/model.hpp"
#include "rokconv/omitted.hpp"
#include "rokconv/report.hpp"

namespace rokconv {

// what a format leaves out of a model: omitted for OBJ and glTF, wrapped for LWOB
struct FormatOmitted {
    Format format;
    Omitted omitted;
    LwobWrapped wrapped;
};

// Reads a job's input into model, with report if given: converted when it was read, not_rok,
// or failed with what went wrong said in result's messages. A large file is read on two threads
// where options.jobs is 1, the conversion having the cores to itself.
[[nodiscard]] Outcome load_input(const Job& job, const Options& options, Model& model,
                                 LoadReport* report, JobResult& result);

// Appends a line "FILE: what: count, first at line N" for each repair or omission, and for
// what each of left_out's formats leaves out; nothing for a sound model.
void describe_repairs(std::string& out, std::string_view file, const Model& model,
                      const LoadReport& report, const Findings& findings,
                      std::span<const FormatOmitted> left_out);

}  // namespace rokconv

// What the program says about a file's contents: the --info report, and the repairs that
// --verbose names during a conversion.
#pragma once

#include <span>
#include <string>
#include <string_view>

#include "app/app.hpp"
#include "rokconv/format.hpp"
#include "rokconv/model.hpp"
#include "rokconv/report.hpp"

namespace rokconv {

// what a format leaves out of a model
struct FormatLeftOut {
    const FormatInfo* format;
    LeftOut left_out;
};

// what examine found, and whether it got to the end
struct Examined {
    Findings findings;
    ExamineStatus status = ExamineStatus::ok;
};

Examined examine_model(const Model& model, const LoadReport& report, unsigned threads);

// Reads a job's input into model, with report if given: converted when it was read, not_rok,
// or failed with what went wrong said in result's messages. A large file is read on two threads
// where the job's share of the cores (options.threads) is more than one.
[[nodiscard]] Outcome load_input(const Job& job, const Options& options, Model& model,
                                 LoadReport* report, JobResult& result);

// What --info says of FILE, already read into model and report (with options.json, the line of
// --info --json); rok is false for a file that is not ROK. Throws bad_alloc when memory runs out.
[[nodiscard]] std::string describe_model(const std::string& file, bool rok, const Model& model,
                                         const LoadReport& report, const Options& options);

// Appends a line "FILE: what: count, first at line N" for each repair or omission, and for
// what each of left_out's formats leaves out; nothing for a sound model.
void describe_repairs(std::string& out, std::string_view file, const Model& model,
                      const LoadReport& report, const Examined& examined,
                      std::span<const FormatLeftOut> left_out);

}  // namespace rokconv

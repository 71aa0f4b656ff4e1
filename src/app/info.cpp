#include "app/info.hpp"

#include <algorithm>
#include <new>
#include <nlohmann/json.hpp>
#include <stdexcept>
#include <vector>

namespace rokconv {

namespace {

using Json = nlohmann::ordered_json;

// one kind of repair or omission: its key in JSON, its words in text, and its tally
struct Entry {
    std::string_view key;
    std::string_view text;
    Tally tally;
};

std::vector<Entry> repairs(const Model& model, const LoadReport& r, const Findings& f) {
    const std::int32_t past = model.palette_count - kPaletteEntries;
    return {
        {"faces_edge_outside", "faces left out, an edge number outside the edge table",
         r.faces_edge_outside},
        {"faces_bad_count", "faces left out, a negative or too large edge count",
         r.faces_bad_count},
        {"lines_edge_outside", "lines left out, an edge number outside the edge table",
         r.lines_edge_outside},
        {"faces_open_ring", "faces whose edges do not close into one ring", f.faces_open_ring},
        {"faces_no_surface", "faces whose colour has no surface", f.faces_no_surface},
        {"lines_no_surface", "lines whose colour has no surface", f.lines_no_surface},
        {"faces_point_outside", "faces naming a point outside the point table",
         f.faces_point_outside},
        {"lines_point_outside", "lines naming a point outside the point table",
         f.lines_point_outside},
        {"palette_entries_past_16", "palette entries past the 16th, not kept",
         Tally{past > 0 ? static_cast<std::uint64_t>(past) : 0, 0}},
    };
}

// what a format leaves out of the model, or cannot show as it is
std::vector<Entry> format_entries(const FormatLeftOut& f) {
    std::vector<Entry> out;
    for (const LeftOutKind& kind : f.format->left_out)
        out.push_back({kind.key, kind.words, f.left_out.*kind.tally});
    return out;
}

const char* block_name(RokBlock block) {
    constexpr const char* kNames[] = {"header",     "points", "edges", "faces", "palette",
                                      "background", "light",  "view",  "lines"};
    return kNames[static_cast<int>(block)];
}

const char* block_words(RokBlock block) {
    constexpr const char* kWords[] = {
        "before the point block", "inside the point block",   "inside the edge block",
        "inside the face block",  "inside the palette block", "inside the background block",
        "inside the light block", "inside the view block",    "inside the LINE2 block"};
    return kWords[static_cast<int>(block)];
}

void line(std::string& out, std::string_view file, const std::string& text) {
    out.append(file);
    out += ": ";
    out += text;
    out += '\n';
}

void entry_line(std::string& out, std::string_view file, const std::string& prefix,
                const Entry& e) {
    if (e.tally.count == 0) return;
    std::string text = prefix + std::string(e.text) + ": " + std::to_string(e.tally.count);
    if (e.tally.first_line > 0) text += ", first at line " + std::to_string(e.tally.first_line);
    line(out, file, text);
}

Json tally_json(const Tally& t) {
    Json j = {{"count", t.count}};
    if (t.count > 0 && t.first_line > 0) j["first_line"] = t.first_line;
    return j;
}

// What the formats leave out: the one asked for, or those a report names by default.
std::vector<FormatLeftOut> omissions(const Model& model, const LoadReport& report,
                                     const Options& options) {
    std::vector<FormatLeftOut> out;
    for (const FormatInfo& format : formats()) {
        if (options.format_given ? format.format != options.format : !format.reported) continue;
        FormatLeftOut f{&format, {}};
        // the reader's model is always sound, so only memory can run out; a glTF binary past
        // 4 GiB still counts what it leaves out
        const SaveStatus counted =
            format.count(model, SaveOptions{options.threads, &report}, f.left_out);
        if (counted == SaveStatus::out_of_memory) throw std::bad_alloc();
        out.push_back(f);
    }
    return out;
}

// what examine finds, or bad_alloc when memory ran out before it was done
Findings examined(const Model& model, const LoadReport& report, const Options& options) {
    Examined e = examine_model(model, report, options.threads);
    if (e.status != ExamineStatus::ok) throw std::bad_alloc();
    return std::move(e.findings);
}

std::string failure_json(const std::string& file, const std::string& error) {
    const Json j = {{"file", file}, {"rok", nullptr}, {"error", error}};
    return j.dump(-1, ' ', false, Json::error_handler_t::replace) + '\n';
}

std::string counts_text(const Model& model) {
    return "a ROK model of " + std::to_string(model.points.size()) + " points, " +
           std::to_string(model.edges.size()) + " edges, " + std::to_string(model.faces.size()) +
           " faces, " + std::to_string(model.lines.size()) + " lines and " +
           std::to_string(model.palette_count) + " palette entries";
}

Outcome inspect(const Job& job, const Options& options, JobResult& result) {
    const std::string& file = job.input;
    Model model;
    LoadReport report;
    const Outcome loaded = load_input(job, options, model, &report, result);
    if (loaded != Outcome::failed) {
        result.messages =
            describe_model(file, loaded == Outcome::converted, model, report, options);
    } else if (options.json) {
        // a file that could not be read is one line of JSON too, and nothing else is said:
        // "could not open: FILE" gives the error "could not open"
        result.messages = failure_json(file, result.messages.substr(0, result.messages.find(':')));
    }
    return loaded;
}

void out_of_memory(const Job& job, const Options& options, JobResult& result) {
    result.messages = options.json ? failure_json(job.input, "not enough memory")
                                   : "not enough memory: " + job.input + "\n";
    result.outcome = Outcome::failed;
}

}  // namespace

Examined examine_model(const Model& model, const LoadReport& report, unsigned threads) {
    Examined e;
    e.status = examine(model, e.findings, &report, threads);
    return e;
}

void describe_repairs(std::string& out, std::string_view file, const Model& model,
                      const LoadReport& report, const Examined& examined,
                      std::span<const FormatLeftOut> left_out) {
    if (report.cut_short) {
        line(out, file,
             std::string("cut short: the file ends ") + block_words(report.cut_in) + ", at line " +
                 std::to_string(report.cut_line));
    }
    // a conversion goes on without the rest of its report
    if (examined.status != ExamineStatus::ok) {
        line(out, file, "not enough memory to examine the whole model");
    }
    for (const Entry& e : repairs(model, report, examined.findings))
        entry_line(out, file, "", e);
    for (const FormatLeftOut& f : left_out) {
        const std::string prefix =
            std::string(f.format->left_out_words) + " " + std::string(f.format->title) + ", ";
        for (const Entry& e : format_entries(f))
            entry_line(out, file, prefix, e);
    }
}

std::string describe_model(const std::string& file, bool rok, const Model& model,
                           const LoadReport& report, const Options& options) {
    std::string out;
    if (options.json) {
        Json j = {{"file", file}};
        j["rok"] = rok;
        if (rok) {
            const Findings findings = examined(model, report, options);
            j["points"] = model.points.size();
            j["edges"] = model.edges.size();
            j["faces"] = model.faces.size();
            j["lines"] = model.lines.size();
            j["palette_entries"] = model.palette_count;
            j["colours"] = findings.colours;
            j["file_lines"] = report.lines;
            j["cut_short"] = nullptr;
            if (report.cut_short) {
                j["cut_short"] = {{"block", block_name(report.cut_in)}, {"line", report.cut_line}};
            }
            Json& r = j["repairs"] = Json::object();
            for (const Entry& e : repairs(model, report, findings))
                r[std::string(e.key)] = tally_json(e.tally);
            Json& left = j["left_out"] = Json::object();
            for (const FormatLeftOut& f : omissions(model, report, options)) {
                Json& of = left[std::string(f.format->json_key)] = Json::object();
                for (const Entry& e : format_entries(f))
                    of[std::string(e.key)] = tally_json(e.tally);
            }
        }
        return j.dump(-1, ' ', false, Json::error_handler_t::replace) + '\n';
    }
    if (!rok) {
        line(out, file, "not a ROK file");
        return out;
    }
    const Examined examination{examined(model, report, options), ExamineStatus::ok};
    const Findings& findings = examination.findings;
    line(out, file, counts_text(model));
    std::string colours = "colours used:";
    for (const std::int32_t c : findings.colours)
        colours += ' ' + std::to_string(c);
    if (findings.colours.empty()) colours += " none";
    line(out, file, colours);
    const std::size_t before = out.size();
    describe_repairs(out, file, model, report, examination, omissions(model, report, options));
    if (out.size() == before) line(out, file, "nothing repaired or left out");
    return out;
}

JobResult inspect_job(const Job& job, const Options& options) {
    JobResult result;
    try {
        result.outcome = inspect(job, options, result);
    } catch (const std::bad_alloc&) {
        out_of_memory(job, options, result);
    } catch (const std::length_error&) {
        out_of_memory(job, options, result);  // a table past its largest size
    }
    if (result.outcome == Outcome::failed && !options.json) result.messages += "error occured.\n";
    return result;
}

}  // namespace rokconv

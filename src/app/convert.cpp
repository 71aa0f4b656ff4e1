#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <future>
#include <memory>
#include <new>
#include <set>
#include <stdexcept>
#include <system_error>
#include <vector>

#include "app/app.hpp"
#include "app/info.hpp"
#include "app/output.hpp"
#include "rokconv/report.hpp"
#include "rokconv/rok.hpp"

namespace rokconv {

namespace {

std::size_t read_from_file(void* file, unsigned char* out, std::size_t n) {
    return std::fread(out, 1, n, static_cast<std::FILE*>(file));
}

// Up to n bytes from offset, as many as the file holds there: fewer only at its end, or where
// it cannot be read, which sets failed.
std::size_t read_at_offset(int descriptor, std::uint64_t offset, unsigned char* out, std::size_t n,
                           std::atomic<bool>& failed) {
    std::size_t got = 0;
    while (got < n) {
        const ssize_t r = pread(descriptor, out + got, n - got, static_cast<off_t>(offset + got));
        if (r > 0) {
            got += static_cast<std::size_t>(r);
        } else if (r == 0) {
            break;
        } else if (errno != EINTR) {
            failed = true;
            break;
        }
    }
    return got;
}

// a directory opens but cannot be read, and neither can a file with an I/O error
bool file_failed(void* file) {
    return std::ferror(static_cast<std::FILE*>(file)) != 0;
}

std::string in_folder(const std::string& folder, std::string name) {
    if (folder.empty()) return name;
    return folder.back() == '/' ? folder + name : folder + "/" + name;
}

// frees what a buffer holds once it is written
void release_bytes(std::vector<unsigned char>& bytes) {
    std::vector<unsigned char>().swap(bytes);
}

void say(std::string& messages, const char* what, std::string_view name) {
    messages += what;
    messages += name;
    messages += '\n';
}

}  // namespace

std::vector<Job> plan_jobs(const Options& options) {
    std::vector<Job> jobs;
    const FormatInfo& format = format_info(options.format);
    std::set<std::string> taken;
    for (const std::string& file : options.files) {
        Job job;
        job.input = file;
        if (options.info) {
            jobs.push_back(std::move(job));
            continue;
        }
        if (options.output == "-") {
            job.outputs.push_back("-");
        } else if (!options.output.empty()) {
            job.outputs.push_back(options.output);
            if (!format.beside_extension.empty()) {
                job.outputs.push_back(options.output);
                set_extension(job.outputs.back(), format.beside_extension);
            }
        } else {
            // the output's name: the input's file name with the format's extension
            const std::string name = file == "-" ? "stdin" : base_name(file);
            for (const std::string_view extension : {format.extension, format.beside_extension}) {
                if (extension.empty()) continue;
                std::string output = name;
                set_extension(output, extension);
                job.outputs.push_back(in_folder(options.output_dir, std::move(output)));
            }
        }
        // nothing written in a run is overwritten by the same run
        for (const std::string& output : job.outputs) {
            if (taken.contains(output)) {
                job.clash = output;
                break;
            }
        }
        if (job.clash.empty()) taken.insert(job.outputs.begin(), job.outputs.end());
        jobs.push_back(std::move(job));
    }
    return jobs;
}

// Reads a job's input into model: converted, not_rok, or failed with what went wrong said.
Outcome load_input(const Job& job, const Options& options, Model& model, LoadReport* report,
                   JobResult& result) {
    const bool standard_input = job.input == "-";
    std::FILE* const opened = standard_input ? stdin : std::fopen(job.input.c_str(), "rb");
    if (opened == nullptr) {
        say(result.messages, "could not open: ", job.input);
        return Outcome::failed;
    }
    // closed on every way out, unless it is standard input
    const std::unique_ptr<std::FILE, int (*)(std::FILE*)> file(
        opened, standard_input ? [](std::FILE*) { return 0; } : &std::fclose);
    // what was read, through read and (on the reader's other thread) read_at, and whether a
    // read at an offset failed
    struct Counted {
        std::FILE* file;
        std::uint64_t bytes;
        std::atomic<std::uint64_t> bytes_at;
        std::atomic<bool> failed_at;
    } counted{opened, 0, 0, false};
    RokInput input;
    input.context = &counted;
    input.read = [](void* context, unsigned char* out, std::size_t n) {
        auto* c = static_cast<Counted*>(context);
        const std::size_t got = read_from_file(c->file, out, n);
        c->bytes += got;
        return got;
    };
    input.failed = [](void* context) {
        auto* c = static_cast<Counted*>(context);
        return file_failed(c->file) || c->failed_at;
    };
    // the reader sizes the model's tables from it; a pipe or device has no size
    std::error_code unknown;
    const std::uintmax_t size = standard_input ? 0 : std::filesystem::file_size(job.input, unknown);
    if (!unknown) input.size = size;
    // a file can be read at any offset, and so in two parts at once where the job's share of the
    // cores allows; a pipe cannot
    if (!standard_input && !unknown) {
        input.read_at = [](void* context, std::uint64_t offset, unsigned char* out, std::size_t n) {
            auto* c = static_cast<Counted*>(context);
            const std::size_t got = read_at_offset(fileno(c->file), offset, out, n, c->failed_at);
            c->bytes_at += got;
            return got;
        };
    }
    const LoadStatus status = load_rok(input, model, LoadOptions{options.threads, report});
    // a large file's two readers may both have read the bytes where they meet
    result.bytes_read = std::min<std::uint64_t>(counted.bytes + counted.bytes_at,
                                                std::max<std::uint64_t>(input.size, counted.bytes));
    switch (status) {
        case LoadStatus::ok:
            return Outcome::converted;
        case LoadStatus::not_rok:
            return Outcome::not_rok;
        case LoadStatus::read_error:
            say(result.messages, "could not read: ", job.input);
            return Outcome::failed;
        case LoadStatus::out_of_memory:
            break;
    }
    say(result.messages, "not enough memory: ", job.input);
    return Outcome::failed;
}

namespace {

#if ROKCONV_THREADS
// examine() on another thread while the model is written, where the job may use more than one;
// else nothing, and it is done after the writing
std::future<Examined> examine_aside(const Model& model, const LoadReport& report,
                                    unsigned threads) {
    if (threads == 1) return {};
    try {
        return std::async(std::launch::async, [&model, &report, threads] {
            return examine_model(model, report, threads);
        });
    } catch (const std::system_error&) {
        return {};
    }
}
#endif

// what a failure to put the outputs in place is called
Outcome not_put(WriteResult written, const Job& job, std::size_t failed, JobResult& result) {
    say(result.messages,
        written == WriteResult::not_created ? "could not create: " : "could not write: ",
        job.outputs[failed]);
    return Outcome::failed;
}

// The outputs of a model in the format, and what they leave out of it. The model's file goes into
// its file as it is made where the format streams, unless it goes to standard output; the
// others are made whole first.
SaveStatus save(const Model& model, const FormatInfo& format, const Job& job, bool streamed,
                const SaveOptions& options, Outputs& outputs,
                std::vector<unsigned char> (&bytes)[2], LeftOut* left_out) {
    Output output;
    if (streamed) {
        output.file.sink = {
            &outputs, [](void* to, std::span<const unsigned char> text) {
                static_cast<Outputs*>(to)->write(0, text);
                return true;  // a failed write shows when the files are put in place
            }};
    } else {
        output.file.bytes = &bytes[0];
    }
    output.beside.bytes = &bytes[1];
    const std::string beside_name = job.outputs.size() > 1 ? base_name(job.outputs[1]) : "";
    output.beside_name = beside_name;
    return format.save(model, output, options, left_out);
}

Outcome convert(const Job& job, const Options& options, JobResult& result) {
    if (!job.clash.empty()) {
        say(result.messages, "output name used twice: ", job.clash);
        return Outcome::failed;
    }
    const FormatInfo& format = format_info(options.format);
    const bool streamed = format.streams && job.outputs[0] != "-";
    Outputs outputs;
    std::size_t failed = 0;
    std::vector<unsigned char> bytes[2];
    {
        Model model;
        LoadReport report;
        const Outcome loaded =
            load_input(job, options, model, options.verbose ? &report : nullptr, result);
        if (loaded == Outcome::not_rok && options.verbose) {
            say(result.messages, "not a ROK file, skipped: ", job.input);
        }
        if (loaded != Outcome::converted) return loaded;
        // an output written as it is made is opened first: one that cannot be is not made
        if (streamed) {
            if (const WriteResult w = outputs.open(job.outputs, failed);
                w != WriteResult::written) {
                return not_put(w, job, failed, result);
            }
        }
        FormatLeftOut left_out{&format, {}};
        // -v examines the model on a thread of its own while it is written
#if ROKCONV_THREADS
        std::future<Examined> aside;
        if (options.verbose) aside = examine_aside(model, report, options.threads);
#endif
        const SaveOptions saving{options.threads, options.verbose ? &report : nullptr};
        const SaveStatus saved = save(model, format, job, streamed, saving, outputs, bytes,
                                      options.verbose ? &left_out.left_out : nullptr);
        if (options.verbose) {
#if ROKCONV_THREADS
            const Examined examined =
                aside.valid() ? aside.get() : examine_model(model, report, options.threads);
#else
            const Examined examined = examine_model(model, report, options.threads);
#endif
            describe_repairs(result.messages, job.input, model, report, examined,
                             std::span(&left_out, 1));
        }
        if (saved == SaveStatus::out_of_memory) {
            say(result.messages, "not enough memory: ", job.input);
            return Outcome::failed;
        }
        if (saved != SaveStatus::ok) {
            // the reader's model is always sound, so this is one too big for the format
            say(result.messages, "could not write: ", job.outputs[0]);
            return Outcome::failed;
        }
    }
    // the model is gone before the files are written: only the outputs' bytes are held
    if (job.outputs[0] == "-") {
        if (write_all(STDOUT_FILENO, bytes[0])) return Outcome::converted;
        say(result.messages, "could not write: ", job.outputs[0]);
        return Outcome::failed;
    }
    if (!streamed) {
        if (const WriteResult w = outputs.open(job.outputs, failed); w != WriteResult::written) {
            return not_put(w, job, failed, result);
        }
    }
    for (std::size_t i = 0; i < job.outputs.size(); ++i) {
        if (!(streamed && i == 0)) outputs.write(i, bytes[i]);
        release_bytes(bytes[i]);
    }
    const WriteResult w = outputs.commit(failed);
    return w == WriteResult::written ? Outcome::converted : not_put(w, job, failed, result);
}

}  // namespace

JobResult convert_job(const Job& job, const Options& options) {
    JobResult result;
    try {
        result.outcome = convert(job, options, result);
    } catch (const std::bad_alloc&) {
        say(result.messages, "not enough memory: ", job.input);
        result.outcome = Outcome::failed;
    } catch (const std::length_error&) {
        say(result.messages, "not enough memory: ", job.input);
        result.outcome = Outcome::failed;
    }
    if (result.outcome == Outcome::failed) result.messages += "error occured.\n";
    return result;
}

}  // namespace rokconv

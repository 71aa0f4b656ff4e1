// The C functions a page or a Node program calls through rokconv.mjs: a ROK file's bytes in, a
// format's files or the --info --json report out. Every call runs on the caller's thread.
#include <new>
#include <stdexcept>
#include <string>
#include <vector>

#include "app/app.hpp"
#include "app/info.hpp"
#include "rokconv/format.hpp"
#include "rokconv/rok.hpp"

namespace {

// one loaded model, and the files of its last save
struct Handle {
    rokconv::Model model;
    rokconv::LoadReport report;
    rokconv::LoadStatus status = rokconv::LoadStatus::ok;
    std::vector<unsigned char> file;
    std::vector<unsigned char> beside;
    std::string info;
};

}  // namespace

extern "C" {

// Reads a ROK file's bytes: a handle to release, or null without memory for it. Its load status
// (rokconv::LoadStatus: 0 ok, 1 not_rok, 2 read_error, 3 out_of_memory) is asked for apart.
Handle* rokconv_load(const unsigned char* bytes, std::size_t size) {
    auto* h = new (std::nothrow) Handle;
    if (h == nullptr) return nullptr;
    rokconv::LoadOptions options;
    options.threads = 1;
    options.report = &h->report;
    h->status = rokconv::load_rok({bytes, size}, h->model, options);
    return h;
}

int rokconv_load_status(const Handle* h) {
    return static_cast<int>(h->status);
}

// Writes the model in the format -f names ("lwo", "obj", "glb", "gltf", "stl"); beside_name is
// what the model's file calls the file beside it (OBJ's .mtl, glTF's .bin). Returns a
// rokconv::SaveStatus (0 ok), or -1 for a name no format has.
int rokconv_save(Handle* h, const char* format, const char* beside_name) {
    for (const rokconv::FormatInfo& f : rokconv::formats()) {
        if (f.name != format) continue;
        // the last save's files freed, not kept as capacity beside the new ones
        std::vector<unsigned char>().swap(h->file);
        std::vector<unsigned char>().swap(h->beside);
        rokconv::SaveOptions options;
        options.threads = 1;
        options.report = &h->report;
        const rokconv::Output output = rokconv::to_bytes(h->file, &h->beside, beside_name);
        return static_cast<int>(rokconv::save(h->model, f.format, output, options));
    }
    return -1;
}

const unsigned char* rokconv_file_data(const Handle* h) {
    return h->file.data();
}
std::size_t rokconv_file_size(const Handle* h) {
    return h->file.size();
}
const unsigned char* rokconv_beside_data(const Handle* h) {
    return h->beside.data();
}
std::size_t rokconv_beside_size(const Handle* h) {
    return h->beside.size();
}

// What `rokconv --info NAME` writes for the model read (with json, what `--info --json` writes),
// made by the command line's own code from the model and its load report; null for a model that
// could not be read, or without memory for the report.
const char* rokconv_info(Handle* h, const char* name, int json) {
    if (h->status != rokconv::LoadStatus::ok && h->status != rokconv::LoadStatus::not_rok) {
        return nullptr;
    }
    rokconv::Options options;
    options.info = true;
    options.json = json != 0;
    options.threads = 1;
    try {
        h->info = rokconv::describe_model(name, h->status == rokconv::LoadStatus::ok, h->model,
                                          h->report, options);
    } catch (const std::bad_alloc&) {
        return nullptr;
    } catch (const std::length_error&) {
        return nullptr;
    }
    return h->info.c_str();
}

// The names the command line gives the outputs of a file called NAME in the format -f names: the
// model's file, then a line feed and the file beside it where the format has one; null for a
// name no format has. Valid until the next call.
const char* rokconv_output_names(const char* name, const char* format) {
    static std::string names;
    for (const rokconv::FormatInfo& f : rokconv::formats()) {
        if (f.name != format) continue;
        const std::string base = rokconv::base_name(name);
        names = base;
        rokconv::set_extension(names, f.extension);
        if (!f.beside_extension.empty()) {
            std::string beside = base;
            rokconv::set_extension(beside, f.beside_extension);
            names += '\n' + beside;
        }
        return names.c_str();
    }
    return nullptr;
}

void rokconv_release(Handle* h) {
    delete h;
}

}  // extern "C"

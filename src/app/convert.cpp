#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>
#include <new>
#include <stdexcept>
#include <system_error>
#include <vector>

#include "app/app.hpp"
#include "app/output.hpp"
#include "rokconv/gltf.hpp"
#include "rokconv/lwob.hpp"
#include "rokconv/obj.hpp"
#include "rokconv/rok.hpp"

#ifndef ROKCONV_VERSION
#define ROKCONV_VERSION "0.0.0"
#endif

namespace rokconv {

namespace {

constexpr const char* kBanner =
    "rokconv " ROKCONV_VERSION
    " - converts ROK models into LightWave objects (LWOB), Wavefront OBJ or glTF 2.0\n";
constexpr const char* kUsage =
    "usage: rokconv [-f FORMAT] FILE\n"
    "  Reads the ROK model FILE and writes it as a LightWave object into the current\n"
    "  directory, named after FILE with the extension .LWO (car.rok gives car.LWO).\n"
    "  -f, --format FORMAT  lwo: a LightWave object, NAME.LWO (the default)\n"
    "                       obj: Wavefront OBJ, NAME.obj with its materials in NAME.mtl\n"
    "                       glb: binary glTF 2.0, NAME.glb\n"
    "                       gltf: glTF 2.0 as JSON, NAME.gltf with its buffer in NAME.bin\n"
    "  rokconv --help      show this text\n"
    "  rokconv --version   show the version\n";

std::size_t read_from_file(void* file, unsigned char* out, std::size_t n) {
    return std::fread(out, 1, n, static_cast<std::FILE*>(file));
}

// a directory opens but cannot be read, and neither can a file with an I/O error
bool file_failed(void* file) {
    return std::ferror(static_cast<std::FILE*>(file)) != 0;
}

// the output file name: path's file name with the extension
std::string output_name(const char* path, std::string_view extension) {
    std::string name = base_name(path);
    set_extension(name, extension);
    return name;
}

Outcome convert(const char* path, Format format) {
    const char* const extensions[][2] = {
        {".LWO", nullptr}, {".obj", ".mtl"}, {".glb", nullptr}, {".gltf", ".bin"}};
    const auto& ext = extensions[static_cast<int>(format)];
    std::vector<OutputFile> files;
    files.push_back({output_name(path, ext[0]), {}});
    if (ext[1] != nullptr) files.push_back({output_name(path, ext[1]), {}});

    std::vector<unsigned char> bytes[2];
    {
        Model model;
        {
            // closed on every way out
            const std::unique_ptr<std::FILE, int (*)(std::FILE*)> file(std::fopen(path, "rb"),
                                                                       &std::fclose);
            if (!file) {
                std::printf("could not open: %s\n", path);
                return Outcome::failed;
            }
            RokInput input;
            input.context = file.get();
            input.read = &read_from_file;
            input.failed = &file_failed;
            // the reader sizes the model's tables from it; a pipe or device has no size
            std::error_code unknown;
            const std::uintmax_t size = std::filesystem::file_size(path, unknown);
            if (!unknown) input.size = size;
            switch (load_rok(input, model)) {
                case LoadStatus::ok:
                    break;
                case LoadStatus::not_rok:
                    // nothing to convert, and nothing is said
                    return Outcome::not_rok;
                case LoadStatus::read_error:
                    std::printf("could not read: %s\n", path);
                    return Outcome::failed;
                case LoadStatus::out_of_memory:
                    std::printf("not enough memory: %s\n", path);
                    return Outcome::failed;
            }
        }
        SaveStatus saved = SaveStatus::ok;
        switch (format) {
            case Format::lwo:
                saved = save_lwob(model, bytes[0]);
                break;
            case Format::obj:
                saved = save_obj(model, files[1].name, bytes[0], bytes[1]);
                break;
            case Format::glb:
                saved = save_glb(model, bytes[0]);
                break;
            case Format::gltf:
                saved = save_gltf(model, files[1].name, bytes[0], bytes[1]);
                break;
        }
        if (saved == SaveStatus::out_of_memory) {
            std::printf("not enough memory: %s\n", path);
            return Outcome::failed;
        }
        if (saved != SaveStatus::ok) {
            // the reader's model is always sound, so this is one too big for the format
            std::printf("could not write: %s\n", files[0].name.c_str());
            return Outcome::failed;
        }
    }
    // the model is gone before the files are written: only the outputs' bytes are held
    for (std::size_t i = 0; i < files.size(); ++i)
        files[i].bytes = bytes[i];
    std::size_t failed = 0;
    switch (write_files(files, failed)) {
        case WriteResult::written:
            return Outcome::converted;
        case WriteResult::not_created:
            std::printf("could not create: %s\n", files[failed].name.c_str());
            return Outcome::failed;
        case WriteResult::not_written:
            break;
    }
    std::printf("could not write: %s\n", files[failed].name.c_str());
    return Outcome::failed;
}

}  // namespace

Outcome convert_file(const char* path, Format format) {
    try {
        return convert(path, format);
    } catch (const std::bad_alloc&) {
        std::printf("not enough memory: %s\n", path);
        return Outcome::failed;
    } catch (const std::length_error&) {
        std::printf("not enough memory: %s\n", path);
        return Outcome::failed;
    }
}

int run(int argc, const char* const* argv) {
    if (argc == 2 && (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0)) {
        std::printf("%s%s", kBanner, kUsage);
        return 0;
    }
    if (argc == 2 && std::strcmp(argv[1], "--version") == 0) {
        std::printf("rokconv %s\n", ROKCONV_VERSION);
        return 0;
    }
    // a single argument is always the file, whatever it begins with
    Format format = Format::lwo;
    const char* file = argc == 2 ? argv[1] : nullptr;
    bool usage = argc < 2;
    for (int i = 1; argc > 2 && i < argc; ++i) {
        const std::string_view arg = argv[i];
        std::string_view name;
        if ((arg == "-f" || arg == "--format") && i + 1 < argc) {
            name = argv[++i];
        } else if (arg.starts_with("--format=")) {
            name = arg.substr(9);
        } else if (arg.starts_with("-") || file != nullptr) {
            usage = true;  // an unknown option, a format missing, or a second file
            break;
        } else {
            file = argv[i];
            continue;
        }
        const char* const names[] = {"lwo", "obj", "glb", "gltf"};
        const auto known = std::find(std::begin(names), std::end(names), name);
        if (known == std::end(names)) {
            std::printf("unknown format: %.*s\n", static_cast<int>(name.size()), name.data());
            usage = true;
            break;
        }
        format = static_cast<Format>(known - std::begin(names));
    }
    if (usage || file == nullptr) {
        std::printf("%s%s", kBanner, kUsage);
        return 1;
    }
    if (convert_file(file, format) == Outcome::failed) {
        std::printf("error occured.\n");
        return 1;
    }
    return 0;
}

}  // namespace rokconv

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
#include "rokconv/lwob.hpp"
#include "rokconv/rok.hpp"

#ifndef ROKCONV_VERSION
#define ROKCONV_VERSION "0.0.0"
#endif

namespace rokconv {

namespace {

constexpr const char* kBanner =
    "rokconv " ROKCONV_VERSION " - converts a ROK model into a LightWave object (LWOB)\n";
constexpr const char* kUsage =
    "usage: rokconv FILE\n"
    "  Reads the ROK model FILE and writes it as a LightWave object into the current\n"
    "  directory, named after FILE with the extension .LWO (car.rok gives car.LWO).\n"
    "  rokconv --help      show this text\n"
    "  rokconv --version   show the version\n";

std::size_t read_from_file(void* file, unsigned char* out, std::size_t n) {
    return std::fread(out, 1, n, static_cast<std::FILE*>(file));
}

// a directory opens but cannot be read, and neither can a file with an I/O error
bool file_failed(void* file) {
    return std::ferror(static_cast<std::FILE*>(file)) != 0;
}

Outcome convert(const char* path) {
    std::string name = base_name(path);
    set_extension(name, ".LWO");
    std::vector<unsigned char> bytes;
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
        const SaveStatus saved = save_lwob(model, bytes);
        if (saved == SaveStatus::out_of_memory) {
            std::printf("not enough memory: %s\n", path);
            return Outcome::failed;
        }
        if (saved != SaveStatus::ok) {
            // the reader's model is always sound, so this is one too big for LWOB's lengths
            std::printf("could not write: %s\n", name.c_str());
            return Outcome::failed;
        }
    }
    // the model is gone before the file is written: only the output's bytes are held
    switch (write_file(name, bytes)) {
        case WriteResult::written:
            return Outcome::converted;
        case WriteResult::not_created:
            std::printf("could not create: %s\n", name.c_str());
            return Outcome::failed;
        case WriteResult::not_written:
            break;
    }
    std::printf("could not write: %s\n", name.c_str());
    return Outcome::failed;
}

}  // namespace

Outcome convert_file(const char* path) {
    try {
        return convert(path);
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
    if (argc != 2) {
        std::printf("%s%s", kBanner, kUsage);
        return 1;
    }
    if (convert_file(argv[1]) == Outcome::failed) {
        std::printf("error occured.\n");
        return 1;
    }
    return 0;
}

}  // namespace rokconv

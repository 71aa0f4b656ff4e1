#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>
#include <new>
#include <stdexcept>
#include <system_error>
#include <vector>

#include "app/app.hpp"
#include "lwob/lwob.hpp"
#include "model/model.hpp"
#include "rok/rok.hpp"

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

// How much of the input is held in memory at a time: the reader works through it and reads on.
constexpr std::size_t kInputWindow = std::size_t{1} << 18;

std::size_t read_from_file(void* file, unsigned char* out, std::size_t n) {
    return std::fread(out, 1, n, static_cast<std::FILE*>(file));
}

// A new file in the current directory, opened exclusively, so it gets the permissions a plain
// create would give. Its name starts with a dot and is unlikely to be taken; a taken one is
// skipped.
std::FILE* create_temporary(std::string& name) {
    static unsigned counter = 0;
    const auto seed = static_cast<unsigned long long>(
        std::chrono::steady_clock::now().time_since_epoch().count());
    for (int attempt = 0; attempt < 100; ++attempt) {
        char buffer[64];
        std::snprintf(buffer, sizeof buffer, ".rokconv-%08llx-%u.tmp", seed & 0xffffffffULL,
                      counter++);
        name = buffer;
        std::FILE* out = std::fopen(name.c_str(), "wbx");
        if (out || errno != EEXIST) return out;
    }
    return nullptr;
}

// Writes bytes to a temporary file and renames it over name once it is complete, so a failed
// run leaves neither a partial file nor a damaged earlier one under that name.
int write_output(const std::string& name, const ByteSink& bytes) {
    std::string temporary;
    std::FILE* out = create_temporary(temporary);
    if (!out) {
        std::printf("could not create: %s\n", name.c_str());
        return -1;
    }
    bool written = std::fwrite(bytes.data(), 1, bytes.size(), out) == bytes.size();
    written = std::fflush(out) == 0 && written;
    written = std::ferror(out) == 0 && written;
    written = std::fclose(out) == 0 && written;
    if (!written) {
        std::remove(temporary.c_str());
        std::printf("could not write: %s\n", name.c_str());
        return -1;
    }
    if (std::rename(temporary.c_str(), name.c_str()) != 0) {
        std::remove(temporary.c_str());
        std::printf("could not create: %s\n", name.c_str());
        return -1;
    }
    return 0;
}

int convert(const char* path) {
    ByteSink bytes;
    {
        Model model;
        {
            // closed on every way out, a failed allocation included
            const std::unique_ptr<std::FILE, int (*)(std::FILE*)> file(std::fopen(path, "rb"),
                                                                       &std::fclose);
            if (!file) {
                std::printf("could not open: %s\n", path);
                return -1;
            }
            ByteSource source;
            source.read = &read_from_file;
            source.context = file.get();
            source.window.resize(kInputWindow);
            // the reader sizes the model's tables from it; a pipe or device has no size
            std::error_code unknown;
            const std::uintmax_t size = std::filesystem::file_size(path, unknown);
            if (!unknown) source.unread = size;
            ByteStream stream = source_stream(source);
            const int loaded = load_rok(stream, model);
            // a directory opens but cannot be read, and neither can a file with an I/O error
            if (std::ferror(file.get()) != 0) {
                std::printf("could not read: %s\n", path);
                return -1;
            }
            // not a ROK file: nothing to convert, and nothing is said
            if (loaded < 0) return 0;
        }
        if (save_lwob(model, bytes) < 0) bytes.clear();
    }
    std::string name = base_name(path);
    set_extension(name, ".LWO");
    if (bytes.empty()) {
        // even an empty model gives a 36-byte file, so this is a model too big for its lengths
        std::printf("could not write: %s\n", name.c_str());
        return -1;
    }
    return write_output(name, bytes);
}

}  // namespace

int convert_file(const char* path) {
    try {
        return convert(path);
    } catch (const std::bad_alloc&) {
        std::printf("not enough memory: %s\n", path);
        return -1;
    } catch (const std::length_error&) {
        std::printf("not enough memory: %s\n", path);
        return -1;
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
    if (convert_file(argv[1]) < 0) {
        std::printf("error occured.\n");
        return 1;
    }
    return 0;
}

}  // namespace rokconv

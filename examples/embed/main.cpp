// rokinfo FILE: loads a ROK model through the rokconv library and prints what it holds.
#include <cstdio>
#include <memory>
#include <new>
#include <vector>

#include <rokconv/rokconv.hpp>

static int fail(const char* what, const char* path) {
    std::fprintf(stderr, "rokinfo: %s: %s\n", what, path);
    return 1;
}

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: rokinfo FILE\n");
        return 1;
    }
    auto close = [](std::FILE* f) { std::fclose(f); };
    std::unique_ptr<std::FILE, decltype(close)> file(std::fopen(argv[1], "rb"));
    if (!file) return fail("cannot open", argv[1]);

    rokconv::Model model;
    rokconv::LoadStatus status;
    try {
        std::vector<unsigned char> bytes;
        unsigned char block[65536];
        while (std::size_t n = std::fread(block, 1, sizeof block, file.get()))
            bytes.insert(bytes.end(), block, block + n);
        if (std::ferror(file.get())) return fail("cannot read", argv[1]);
        status = rokconv::load_rok(bytes, model);
    } catch (const std::bad_alloc&) {
        status = rokconv::LoadStatus::out_of_memory;
    }
    if (status == rokconv::LoadStatus::not_rok) return fail("not a ROK file", argv[1]);
    if (status == rokconv::LoadStatus::out_of_memory) return fail("out of memory", argv[1]);
    if (status != rokconv::LoadStatus::ok) return fail("cannot read", argv[1]);
    std::printf("points %zu\nfaces %zu\nlines %zu\n", model.points.size(), model.faces.size(),
                model.lines.size());
}

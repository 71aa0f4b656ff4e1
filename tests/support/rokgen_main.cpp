// rokgen: writes generated ROK models (or the same grid as OBJ) to standard output or a file.
#include <charconv>
#include <cstdio>
#include <cstring>
#include <string>
#include <string_view>

#include "rokgen.hpp"

namespace {

constexpr const char* kUsage =
    "usage: rokgen grid N [options]        a grid of about N points, one quad per cell\n"
    "       rokgen grid --bytes SIZE [options]  the grid whose text is closest to SIZE bytes\n"
    "       rokgen ring N [options]        one face of N edges (3 to 65535) around a circle\n"
    "       rokgen damaged KIND [options]  a damaged file made from a small grid\n"
    "       rokgen damaged --list          the damaged kinds\n"
    "options:\n"
    "  --seed S        random seed (default 1); the same seed gives the same bytes\n"
    "  --eol E         line ends: lf (default), crlf, lfcr or cr\n"
    "  --preamble      put a 128-byte preamble before the magic\n"
    "  --obj           write the model as Wavefront OBJ instead (grid and ring)\n"
    "  --at BYTE       where a truncated file ends (default: half way)\n"
    "  -o FILE         write to FILE instead of standard output\n";

bool parse_size(std::string_view text, std::size_t& value) {
    const auto result = std::from_chars(text.data(), text.data() + text.size(), value);
    return result.ec == std::errc() && result.ptr == text.data() + text.size();
}

int fail(const char* message, const char* detail = "") {
    std::fprintf(stderr, "rokgen: %s%s\n%s", message, detail, kUsage);
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2 || std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0) {
        std::fputs(kUsage, argc < 2 ? stderr : stdout);
        return argc < 2 ? 2 : 0;
    }
    const std::string_view command = argv[1];
    std::string_view subject;
    std::size_t seed = 1;
    std::size_t bytes = 0;
    std::size_t at = static_cast<std::size_t>(-1);
    bool obj = false;
    bool list = false;
    const char* output = nullptr;
    rokgen::Style style;
    for (int i = 2; i < argc; ++i) {
        const std::string_view arg = argv[i];
        const bool has_value = i + 1 < argc;
        if (arg == "--seed" && has_value) {
            if (!parse_size(argv[++i], seed)) return fail("bad seed: ", argv[i]);
        } else if (arg == "--eol" && has_value) {
            const auto eol = rokgen::parse_eol(argv[++i]);
            if (!eol) return fail("unknown line end: ", argv[i]);
            style.eol = *eol;
        } else if (arg == "--bytes" && has_value) {
            if (!parse_size(argv[++i], bytes) || bytes == 0) return fail("bad size: ", argv[i]);
        } else if (arg == "--at" && has_value) {
            if (!parse_size(argv[++i], at)) return fail("bad byte position: ", argv[i]);
        } else if (arg == "-o" && has_value) {
            output = argv[++i];
        } else if (arg == "--preamble") {
            style.preamble = true;
        } else if (arg == "--obj") {
            obj = true;
        } else if (arg == "--list") {
            list = true;
        } else if (subject.empty() && !arg.starts_with("-")) {
            subject = arg;
        } else {
            return fail("unexpected argument: ", argv[i]);
        }
    }

    std::string text;
    if (command == "grid" || command == "ring") {
        std::size_t n = 0;
        if (command == "grid" && bytes > 0) {
            n = rokgen::grid_points_for_size(bytes, seed, style);
        } else if (!parse_size(subject, n) || n == 0) {
            return fail("expected a count of points or edges");
        }
        if (command == "ring" && (n < 3 || n > 65535)) {
            return fail("a ring has 3 to 65535 edges: one face holds at most 65535");
        }
        const rokgen::Mesh mesh =
            command == "grid" ? rokgen::make_grid(n, seed) : rokgen::make_ring(n, seed);
        if (obj) {
            rokgen::write_obj(text, mesh);
        } else {
            rokgen::write_rok(text, mesh, style);
        }
    } else if (command == "damaged") {
        if (list) {
            for (rokgen::Damage damage : rokgen::damages()) {
                std::printf("%s\n", rokgen::damage_name(damage));
            }
            return 0;
        }
        const auto damage = rokgen::parse_damage(subject);
        if (!damage) return fail("unknown damaged kind: ", std::string(subject).c_str());
        text = rokgen::make_damaged(*damage, seed, style, at).text;
    } else {
        return fail("unknown command: ", argv[1]);
    }

    std::FILE* out = output ? std::fopen(output, "wb") : stdout;
    if (!out) {
        std::fprintf(stderr, "rokgen: could not create: %s\n", output);
        return 1;
    }
    bool written = std::fwrite(text.data(), 1, text.size(), out) == text.size();
    written = std::fflush(out) == 0 && written;
    if (output) written = std::fclose(out) == 0 && written;
    if (!written) {
        std::fprintf(stderr, "rokgen: could not write %s\n", output ? output : "standard output");
        return 1;
    }
    return 0;
}

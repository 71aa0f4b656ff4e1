#include <array>
#include <bit>
#include <charconv>
#include <cmath>
#include <cstring>
#include <string>

#include "model/guarded.hpp"
#include "model/scene.hpp"
#include "rokconv/obj.hpp"

namespace rokconv {

namespace {

// the sink that appends to a byte buffer
OutputSink append_to(std::vector<unsigned char>& out) {
    return OutputSink{&out, [](void* context, std::span<const unsigned char> bytes) {
                          auto& to = *static_cast<std::vector<unsigned char>*>(context);
                          to.insert(to.end(), bytes.begin(), bytes.end());
                      }};
}

// Text handed to a sink through a block of its own, so that each piece costs a copy into it
// rather than a call. Numbers are written by to_chars, which needs no locale and gives the
// shortest text that reads back as the same value. The text reaches out at flush.
struct Text {
    explicit Text(OutputSink to) : out(to) {}

    OutputSink out;
    std::size_t n = 0;
    char block[1 << 16];

    void put(const char* bytes, std::size_t k) {
        out.put(out.context, {reinterpret_cast<const unsigned char*>(bytes), k});
    }
    void flush() {
        put(block, n);
        n = 0;
    }
    char* room(std::size_t k) {
        if (n + k > sizeof block) flush();
        return block + n;
    }
    Text& operator<<(std::string_view s) {
        if (s.size() > sizeof block / 2) {
            flush();
            put(s.data(), s.size());
        } else {
            std::memcpy(room(s.size()), s.data(), s.size());
            n += s.size();
        }
        return *this;
    }
    Text& operator<<(const char* s) { return *this << std::string_view(s); }
    Text& operator<<(char c) {
        *room(1) = c;
        ++n;
        return *this;
    }
    template <class Number>
    Text& operator<<(Number value) {
        char* at = room(32);
        n += static_cast<std::size_t>(std::to_chars(at, at + 32, value).ptr - at);
        return *this;
    }
    // a component of a unit normal, to six decimals: as exact as a reader's smoothing needs, and
    // written without the search for the shortest text
    Text& unit(float value) {
        char* at = room(16);
        char* p = at;
        auto fixed = static_cast<std::int64_t>(std::lround(static_cast<double>(value) * 1e6));
        if (fixed < 0) {
            *p++ = '-';
            fixed = -fixed;
        }
        p = std::to_chars(p, p + 8, fixed / 1000000).ptr;
        if (std::int64_t fraction = fixed % 1000000; fraction != 0) {
            *p++ = '.';
            int digits = 6;
            while (fraction % 10 == 0) {
                fraction /= 10;
                --digits;
            }
            for (int d = digits - 1; d >= 0; --d, fraction /= 10)
                p[d] = static_cast<char>('0' + fraction % 10);
            p += digits;
        }
        n += static_cast<std::size_t>(p - at);
        return *this;
    }
};

// a grey of the given level, as three components
void grey(Text& t, std::string_view what, double level) {
    t << what << ' ' << level << ' ' << level << ' ' << level << '\n';
}

// The MTL statements of a surface. Kd is the colour in linear light, as glTF's base colour is
// and as current importers read Kd; Ks the specular level as a fraction (256 is 100 %); Ns the
// Phong exponent that glossiness 0 stands for.
void write_material(Text& t, std::string_view name, const Look* look) {
    t << "newmtl " << name << '\n';
    if (look != nullptr) {
        t << "Kd " << linear(look->colour[0]) << ' ' << linear(look->colour[1]) << ' '
          << linear(look->colour[2]) << '\n';
        grey(t, "Ks", static_cast<double>(look->specular) / 256.0);
    } else {
        grey(t, "Kd", 0.8);
        grey(t, "Ks", 0.0);
    }
    t << "Ns 4\nd 1\nillum 2\n";
}

// obj_buffer, if given, is the buffer behind the sink obj
SaveStatus save(const Model& model, std::string_view mtl_name, OutputSink obj,
                std::vector<unsigned char>* obj_buffer, std::vector<unsigned char>& mtl,
                Omitted* omitted) {
    Scene scene;
    if (!build_scene(model, scene)) return SaveStatus::invalid_model;
    if (omitted != nullptr) *omitted = scene.omitted;

    Text o{obj};
    // room for the most the text can take, so that it is never copied as it grows (only what
    // is written is given memory): a point's line, a normal's for each corner (the most vertices
    // there can be), each corner's two numbers, each face's usemtl line
    if (obj_buffer != nullptr) {
        reserve_large(*obj_buffer, obj_buffer->size() + mtl_name.size() + 32 +
                                       52 * scene.positions.size() +
                                       (34 + 24) * scene.corners.size() + 40 * scene.face_count() +
                                       60 * scene.lines.size());
    }
    o << "# rokconv\nmtllib " << mtl_name << '\n';
    // the points with finite positions, numbered from 1 in model order
    std::vector<std::uint32_t> number(scene.positions.size(), 0);
    std::uint32_t next = 0;
    for (std::size_t p = 0; p < scene.positions.size(); ++p) {
        const Vec3& v = scene.positions[p];
        if (!std::isfinite(v.x) || !std::isfinite(v.y) || !std::isfinite(v.z)) continue;
        number[p] = ++next;
        o << "v " << v.x << ' ' << v.y << ' ' << v.z << '\n';
    }
    release(scene.positions);

    // each corner's normal number, in place of its slot, then of its vertex
    CornerSlots slots;
    std::vector<std::uint32_t> normal_of = place_corners(scene, slots);
    Shading shading = shade(scene, slots);
    release(scene.face_normal);
    release(shading.vertex_start);
    for (std::uint32_t& c : normal_of)
        c = slots.slots[c].ref;  // the corner's vertex, for now
    release(slots.slots);
    release(slots.start);
    {
        // each distinct normal once, numbered from 1 in order of first use, found through an
        // open-addressing table of twice the vertices' size
        const std::vector<Vec3>& normals = shading.vertex_normal;
        std::vector<std::uint32_t> normal_number(normals.size(), 0);
        std::vector<std::uint32_t> table(std::bit_ceil(2 * normals.size() + 2), 0);
        std::vector<std::uint32_t> first_vertex;  // of each numbered normal
        const std::size_t mask = table.size() - 1;
        for (std::size_t v = 0; v < normals.size(); ++v) {
            const Vec3& n = normals[v];
            if (n.x == 0.0f && n.y == 0.0f && n.z == 0.0f) continue;  // a face without area
            const auto bits = std::bit_cast<std::array<std::uint32_t, 3>>(n);
            std::size_t i =
                ((std::size_t{bits[0]} * 0x9E3779B97F4A7C15u) ^ (std::size_t{bits[1]} << 17) ^
                 (std::size_t{bits[2]} * 0xC2B2AE3D27D4EB4Fu)) &
                mask;
            for (;; i = (i + 1) & mask) {
                if (table[i] == 0) {
                    first_vertex.push_back(static_cast<std::uint32_t>(v));
                    table[i] = static_cast<std::uint32_t>(first_vertex.size());
                    (o << "vn ").unit(n.x) << ' ';
                    o.unit(n.y) << ' ';
                    o.unit(n.z) << '\n';
                    break;
                }
                const auto other = std::bit_cast<std::array<std::uint32_t, 3>>(
                    normals[first_vertex[table[i] - 1]]);
                if (other == bits) break;
            }
            normal_number[v] = table[i];
        }
        release(table);
        release(first_vertex);
        release(shading.vertex_normal);
        for (std::uint32_t& n : normal_of)
            n = normal_number[n];
    }

    // faces in model order, then lines, each run of one material under its usemtl
    bool uses_default = false;
    std::int32_t current = -2;
    auto use = [&](std::int32_t material) {
        if (material == current) return;
        current = material;
        uses_default = uses_default || material < 0;
        o << "usemtl "
          << (material < 0
                  ? std::string_view("default")
                  : std::string_view(scene.materials[static_cast<std::size_t>(material)].name))
          << '\n';
    };
    for (std::size_t f = 0; f < scene.face_count(); ++f) {
        use(scene.face_material[f]);
        const std::uint32_t first = scene.face_start[f];
        const std::uint32_t end = scene.face_start[f + 1];
        o << (end - first == 2 ? "l" : "f");
        for (std::uint32_t c = first; c < end; ++c) {
            o << ' ' << number[scene.corners[c]];
            if (end - first > 2 && normal_of[c] != 0) o << "//" << normal_of[c];
        }
        o << '\n';
    }
    for (const SceneLine& line : scene.lines) {
        use(line.material);
        o << "l " << number[line.from] << ' ' << number[line.to] << '\n';
    }

    o.flush();
    Text m{append_to(mtl)};
    m << "# rokconv\n";
    for (const Material& material : scene.materials)
        write_material(m, material.name, &material.look);
    if (uses_default) write_material(m, "default", nullptr);
    m.flush();
    return SaveStatus::ok;
}

}  // namespace

SaveStatus save_obj(const Model& model, std::string_view mtl_name, std::vector<unsigned char>& obj,
                    std::vector<unsigned char>& mtl, Omitted* omitted) {
    return guarded({&obj, &mtl},
                   [&] { return save(model, mtl_name, append_to(obj), &obj, mtl, omitted); });
}

SaveStatus save_obj(const Model& model, std::string_view mtl_name, OutputSink obj,
                    std::vector<unsigned char>& mtl, Omitted* omitted) {
    return guarded({&mtl}, [&] { return save(model, mtl_name, obj, nullptr, mtl, omitted); });
}

}  // namespace rokconv

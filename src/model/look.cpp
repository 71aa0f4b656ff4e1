#include "model/look.hpp"

namespace rokconv {

namespace {

// brightness of white with red weighted 2, green 4 and blue 1
constexpr std::int64_t kFullBrightness = 7 * 255;
// the specular level the formula tends to as the headroom above the mean vanishes
constexpr std::int64_t kFullSpecular = 64;

}  // namespace

// Components are meant to be 0-255 but are stored as read, so the sums are formed in 64 bits,
// where they cannot overflow; divisions truncate toward zero.
Look look_of(const PaletteEntry& entry) {
    Look look;
    for (int i = 0; i < 3; ++i) {
        look.colour[i] = static_cast<std::uint8_t>(
            (std::int64_t{entry.c[i]} + std::int64_t{entry.c[i + 3]}) / 2);
    }
    const std::int64_t l1 =
        2 * std::int64_t{entry.c[0]} + 4 * std::int64_t{entry.c[1]} + std::int64_t{entry.c[2]};
    const std::int64_t l2 =
        2 * std::int64_t{entry.c[3]} + 4 * std::int64_t{entry.c[4]} + std::int64_t{entry.c[5]};
    if (l2 >= l1) return look;
    const std::int64_t mean = (l1 + l2) / 2;
    const std::int64_t headroom = kFullBrightness - mean;
    // only components above 255 leave no headroom: the full level rather than a division by
    // zero or a negative level
    look.specular = headroom <= 0 ? kFullSpecular : (l1 - mean) * 256 / headroom / 4;
    return look;
}

bool has_look(const Model& model, std::int32_t colour) {
    // the usable palette holds at most the 16 entries a model keeps
    return colour >= 0 && static_cast<std::size_t>(colour) < usable_palette(model).size();
}

}  // namespace rokconv

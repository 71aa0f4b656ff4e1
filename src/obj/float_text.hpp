#pragma once

#include <cstddef>

namespace rokconv {

// the room put_shortest needs at its first byte: the text itself is 15 characters at most
// ("-1.00000685e-36", "-0.000100000005"), the rest is scratch it may overwrite
constexpr std::size_t kShortestRoom = 24;

// Writes a float as std::to_chars(at, at + kShortestRoom, value) writes it, byte for byte: the
// fewest digits that read back as the same float (the nearest such digits, ties to even), in
// fixed or scientific notation, whichever is shorter, fixed on a tie; a fixed integer past 2^24
// is its exact value. Returns the end of the text. Bytes after the end, within kShortestRoom of
// at, may have been written over.
char* put_shortest(char* at, float value);

}  // namespace rokconv

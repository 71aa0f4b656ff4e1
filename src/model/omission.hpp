// What a writer leaves out of a model as it goes, by index, and where that was in the file.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "rokconv/report.hpp"
#include "rokconv/rok.hpp"

namespace rokconv {

// how many faces (or lines) were left out, and the first of them: an index into Model::faces
// (or Model::lines), 0 while count is 0
struct Omission {
    std::size_t count = 0;
    std::size_t first = 0;
};

// one more left out, the one at index
inline void leave_out(Omission& o, std::size_t index) {
    if (o.count == 0 || index < o.first) o.first = index;
    ++o.count;
}

// two counts of the same kind, as one
inline void add(Omission& o, const Omission& more) {
    if (more.count == 0) return;
    if (o.count == 0 || more.first < o.first) o.first = more.first;
    o.count += more.count;
}

// An omission counted by the line where the first one's record begins, from the report's table
// of lines (face_line or line_line); 0 where there is no report.
inline Tally tally(const Omission& o, const LoadReport* report,
                   std::vector<std::uint64_t> LoadReport::*lines) {
    const std::vector<std::uint64_t>* at = report != nullptr ? &(report->*lines) : nullptr;
    return Tally{o.count,
                 o.count > 0 && at != nullptr && o.first < at->size() ? (*at)[o.first] : 0};
}

}  // namespace rokconv

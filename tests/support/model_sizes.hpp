// Shared by the generator-driven tests: a converted model held against what the generator
// expects of it.
#pragma once

#include <gtest/gtest.h>

#include <string>

#include "harness.hpp"
#include "rokgen.hpp"

namespace rokfuzz_test {

inline rokfuzz::Conversion convert(const std::string& text) {
    return rokfuzz::convert({reinterpret_cast<const unsigned char*>(text.data()), text.size()});
}

inline ::testing::AssertionResult within(const char* what, std::size_t value, rokgen::Range r) {
    const auto v = static_cast<std::int64_t>(value);
    if (r.holds(v)) return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure()
           << what << " " << v << ", expected " << r.lo << (r.lo == r.hi ? "" : " to ")
           << (r.lo == r.hi ? "" : std::to_string(r.hi));
}

// the output is sound and the model has the expected sizes
inline ::testing::AssertionResult as_expected(const rokfuzz::Conversion& c,
                                              const rokgen::Expect& x) {
    const std::string fault = rokfuzz::check(c);
    if (!fault.empty()) return ::testing::AssertionFailure() << fault;
    if ((c.loaded == rokconv::LoadStatus::ok) != x.rok) {
        return ::testing::AssertionFailure() << "load_rok returned " << static_cast<int>(c.loaded);
    }
    const rokconv::Model& m = c.model;
    for (auto result :
         {within("points", m.points.size(), x.points), within("edges", m.edges.size(), x.edges),
          within("faces and lines", m.faces.size() + m.lines.size(), x.polygons)}) {
        if (!result) return result;
    }
    if (!x.palette_count.holds(m.palette_count)) {
        return ::testing::AssertionFailure() << "palette count " << m.palette_count << ", expected "
                                             << x.palette_count.lo << " to " << x.palette_count.hi;
    }
    return ::testing::AssertionSuccess();
}

}  // namespace rokfuzz_test

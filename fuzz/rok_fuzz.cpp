// libFuzzer target: the whole in-memory conversion, load_rok then save_lwob, with the output's
// structure checked against the model. A structural fault aborts, so it is reported as a crash.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

#include "harness.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string fault = rokfuzz::run({data, size});
    if (!fault.empty()) {
        std::fprintf(stderr, "rokconv_fuzz: %s\n", fault.c_str());
        std::abort();
    }
    return 0;
}

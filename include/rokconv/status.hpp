// What a writer's call ended in.
#pragma once

namespace rokconv {

enum class SaveStatus {
    ok,
    invalid_model,  // a face or line refers past the model's tables, or has a negative edge count
    too_large,      // more than the format can hold: in LWOB a face of more than 65,535 edges or a
                    // chunk past 4 GiB; in glTF a binary file past 4 GiB
    out_of_memory,
};

}  // namespace rokconv

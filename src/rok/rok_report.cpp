// The reader made a second time, for a report: it counts lines and notes what it leaves out. It
// is made in a file of its own, so that the compiler shapes the plain reader's loops as if this
// one did not exist: in one file, the two together crossed its inlining limits and the plain
// reader slowed by about 2 %.
#include "rok/load.hpp"

namespace rokconv {

template LoadStatus rok::read_rok<true>(ByteStream&, Model&, LoadReport*, const RokInput*,
                                        std::size_t);

}  // namespace rokconv

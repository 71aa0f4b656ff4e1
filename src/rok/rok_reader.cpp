// The ways in: an input or bytes in memory made a stream (and, for a large one, the input the
// second thread reads), then read by the plain reader or the one that counts lines.
#include <algorithm>
#include <cstring>
#include <new>

#include "rok/load.hpp"
#include "rok/reader.hpp"
#include "util/parallel.hpp"

namespace rokconv {

// the plain reader; the one for a report is made in rok_report.cpp
template LoadStatus rok::read_rok<false>(ByteStream&, Model&, LoadReport*, const RokInput*,
                                         std::size_t);

namespace {

// how much of the input is held in memory at a time: the reader works through it and reads on
constexpr std::size_t kWindow = std::size_t{1} << 18;

// Whether an input of so many bytes is read by a second thread: one large enough, where the
// options allow two threads. With 0, a machine that does not say how many cores it has is taken
// to have more than one.
bool worth_splitting(std::uint64_t size, std::uint64_t split_bytes, unsigned threads) {
    if (!ROKCONV_THREADS || threads == 1 || size < split_bytes) return false;
    return threads > 1 || budget_threads(0) != 1;
}

// bytes in memory as an input that read_at reads
struct Bytes {
    std::span<const unsigned char> bytes;

    static std::size_t read_at(void* context, std::uint64_t offset, unsigned char* out,
                               std::size_t n) {
        const std::span<const unsigned char> all = static_cast<const Bytes*>(context)->bytes;
        if (offset >= all.size()) return 0;
        const std::size_t got = std::min<std::uint64_t>(n, all.size() - offset);
        std::memcpy(out, all.data() + offset, got);
        return got;
    }
};

// the plain reader, or where a report is wanted the one that counts lines
LoadStatus read(ByteStream& stream, Model& model, LoadReport* report, const RokInput* split,
                std::size_t window) {
    if (report == nullptr) return rok::read_rok<false>(stream, model, nullptr, split, window);
    *report = LoadReport{};
    return rok::read_rok<true>(stream, model, report, split, window);
}

}  // namespace

// bytes in memory, read in two parts at once where they are large enough
LoadStatus load_rok(std::span<const unsigned char> bytes, Model& model,
                    const LoadOptions& options) {
    ByteStream stream = byte_stream(bytes);
    Bytes held{bytes};
    RokInput split;
    split.context = &held;
    split.size = bytes.size();
    split.read_at = &Bytes::read_at;
    const bool worth = worth_splitting(bytes.size(), kSplitBytes, options.threads);
    return read(stream, model, options.report, worth ? &split : nullptr, kWindow);
}

LoadStatus load_rok(const RokInput& input, Model& model, const LoadOptions& options) {
    return load_rok_windowed(input, kWindow, kSplitBytes, model, options);
}

LoadStatus load_rok_windowed(const RokInput& input, std::size_t window, std::uint64_t split_bytes,
                             Model& model, const LoadOptions& options) {
    try {
        ByteSource source;
        source.input = &input;
        source.window.resize(window);
        source.unread = input.size;
        ByteStream stream = source_stream(source);
        const bool split =
            input.read_at != nullptr && worth_splitting(input.size, split_bytes, options.threads);
        return read(stream, model, options.report, split ? &input : nullptr, window);
    } catch (const std::bad_alloc&) {
        return LoadStatus::out_of_memory;
    }
}

}  // namespace rokconv

#include <algorithm>
#include <atomic>
#include <bit>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <new>
#include <optional>
#include <stdexcept>
#include <string_view>
#include <system_error>
#include <thread>

#include "rok/blocks.hpp"
#include "rok/cursor.hpp"
#include "rok/reader.hpp"
#include "rokconv/report.hpp"
#include "util/memory.hpp"

namespace rokconv {

namespace {

using rok::Cursor;
using rok::LineCount;
using rok::LineCountIf;
using rok::note_cut;
using rok::read_magic;
using rok::read_points;
using rok::read_rest;

// ---- a large file read in two parts at once ----

// The part of a large file after its point block, read by a thread of its own while the caller
// reads the points. The thread looks for the first line that can close the point block, from
// where the points begin: "LINE0" at the start of a line, then a line end or a zero byte. It
// reads the file from the line after it as the reader would, into a model of its own. Where the
// points end is known only once they are read, so that is only a guess: its tables are taken
// when the points end just after the line it found, else dropped, and the rest is read in order
// (the line stood inside a point record, say, or the closing line began within a line split for
// its length). Each thread reads through its own window, the other by the input's read_at.
//
// A reader for a report has the other thread count its lines from its start, and adds the lines
// before it when it takes them; those lines must then have ended just as the other thread's
// first line did (with a line end, or split for its length).
template <bool Report>
class RestOfFile {
  public:
    RestOfFile(const RokInput& input, std::uint64_t from, std::size_t window)
        : input_(input), from_(from), window_(window) {
        try {
            thread_ = std::thread([this] { run(); });
        } catch (const std::system_error&) {
            // no thread: the whole file is read in order
        }
    }
    ~RestOfFile() {
        stop_ = true;
        if (thread_.joinable()) thread_.join();
    }
    RestOfFile(const RestOfFile&) = delete;
    RestOfFile& operator=(const RestOfFile&) = delete;

    // Whether the points that r has read end where the thread began: then model (and report)
    // take what it read, and r its line count. Otherwise the thread is stopped, and what it read
    // is dropped.
    bool take(Cursor<Report>& r, Model& model, [[maybe_unused]] LoadReport* report) {
        if (!thread_.joinable()) return false;
        bool same = false;
        if (!r.in.eof && r.is("LINE0")) {
            std::unique_lock lock(mutex_);
            changed_.wait(lock, [&] { return state_ != State::looking; });
            same = state_ != State::none && after_ == stream_offset(r.in);
            if constexpr (Report) same = same && r.open == at_close_.open;
        }
        if (!same) stop_ = true;
        thread_.join();
        if (!same || state_ != State::read) return false;
        model.edges = std::move(rest_.edges);
        model.edge_refs = std::move(rest_.edge_refs);
        model.faces = std::move(rest_.faces);
        model.lines = std::move(rest_.lines);
        model.palette = std::move(rest_.palette);
        model.palette_count = rest_.palette_count;
        if constexpr (Report) {
            // the lines before the other thread's first, less those it counted itself
            const std::uint64_t before = r.ends_taken - at_close_.ends_taken;
            LoadReport& part = rest_report_;
            if (part.cut_short) note_cut(*report, part.cut_in);
            for (Tally LoadReport::*tally :
                 {&LoadReport::faces_edge_outside, &LoadReport::faces_bad_count,
                  &LoadReport::lines_edge_outside}) {
                Tally& t = part.*tally;
                if (t.count > 0) t.first_line += before;
                report->*tally = t;
            }
            for (std::vector<std::uint64_t> LoadReport::*lines :
                 {&LoadReport::face_line, &LoadReport::line_line}) {
                for (std::uint64_t& line : part.*lines)
                    line += before;
                report->*lines = std::move(part.*lines);
            }
            r.ends_taken = at_end_.ends_taken + before;
            r.open = at_end_.open;
        }
        return true;
    }

  private:
    enum class State { looking, none, reading, read, failed };

    struct Part {
        const RokInput* input;
        std::uint64_t offset;
        const std::atomic<bool>* stop;
    };
    static std::size_t read_part(void* context, unsigned char* out, std::size_t n) {
        auto& part = *static_cast<Part*>(context);
        if (*part.stop) return 0;
        const std::size_t got = part.input->read_at(part.input->context, part.offset, out, n);
        part.offset += got;
        return got;
    }

    void set(State state) {
        const std::lock_guard lock(mutex_);
        state_ = state;
        changed_.notify_all();
    }

    // the offset of the first line from from_ on that can close the point block, if any
    std::optional<std::uint64_t> find_close() {
        constexpr std::string_view kClose = "LINE0";
        constexpr std::size_t kChunk = std::size_t{1} << 20;
        std::vector<unsigned char> buffer(kChunk + 1);
        // a candidate is tested with the byte before it and the byte after it
        std::uint64_t offset = from_;  // of buffer[1]
        buffer[0] = '\n';              // from_ begins a line
        std::size_t held = 0;          // bytes after buffer[0]
        for (;;) {
            if (stop_) return std::nullopt;
            const std::size_t got = input_.read_at(
                input_.context, offset + held, buffer.data() + 1 + held, buffer.size() - 1 - held);
            held += got;
            const bool ended = got == 0;
            const std::string_view text(reinterpret_cast<const char*>(buffer.data()), 1 + held);
            for (std::size_t at = text.find(kClose, 1); at != std::string_view::npos;
                 at = text.find(kClose, at + 1)) {
                const char before = text[at - 1];
                if (before != '\r' && before != '\n') continue;
                const std::size_t next = at + kClose.size();
                if (next == text.size()) {
                    if (ended) return std::nullopt;  // no line after it
                    break;                           // its next byte is read next time
                }
                const char after = text[next];
                if (after == '\r' || after == '\n' || after == '\0') return offset + at - 1;
            }
            if (ended) return std::nullopt;
            // the last bytes are kept: a candidate may begin among them
            const std::size_t keep = std::min<std::size_t>(held, kClose.size() + 1);
            std::memmove(buffer.data(), buffer.data() + 1 + held - keep, keep);
            offset += held - keep + 1;
            held = keep - 1;
        }
    }

    void run() {
        try {
            const std::optional<std::uint64_t> close = find_close();
            if (!close) {
                set(State::none);
                return;
            }
            Part part{&input_, *close, &stop_};
            const RokInput rest{&part, &read_part, nullptr,
                                input_.size > *close ? input_.size - *close : 0};
            ByteSource source;
            source.input = &rest;
            source.window.resize(window_);
            source.unread = rest.size;
            Cursor<Report> r{{}, source_stream(source), {}, 0, 0, 0};
            r.next();  // the closing line
            {
                const std::lock_guard lock(mutex_);
                after_ = *close + stream_offset(r.in);
                if constexpr (Report) at_close_ = r;
                state_ = r.in.eof ? State::none : State::reading;
                changed_.notify_all();
                if (r.in.eof) return;
            }
            read_rest(r, rest_, &rest_report_);
            if constexpr (Report) at_end_ = r;
            set(stop_ ? State::failed : State::read);
        } catch (...) {
            set(State::failed);  // out of memory, or the input's read threw: read in order
        }
    }

    const RokInput& input_;
    const std::uint64_t from_;
    const std::size_t window_;
    std::atomic<bool> stop_{false};
    std::mutex mutex_;
    std::condition_variable changed_;
    State state_ = State::looking;
    std::uint64_t after_ = 0;  // the offset after the line found
    Model rest_;
    LoadReport rest_report_;
    [[no_unique_address]] LineCountIf<Report> at_close_, at_end_;
    std::thread thread_;  // last: the members it uses are made before it starts
};

// The whole file after the magic. With split, the input read_at can read and the window the
// reader reads it through, the part after the point block may be read by another thread.
template <bool Report>
void read_model(Cursor<Report>& r, Model& model, LoadReport* report,
                const RokInput* split = nullptr, std::size_t window = 0) {
    r.next();  // the rest of the magic's line
    if (!r.skip_past("POINT")) {
        if constexpr (Report) note_cut(*report, RokBlock::header);
    }
    if (split != nullptr && !r.in.eof) {
        RestOfFile<Report> rest(*split, stream_offset(r.in), window);
        read_points(r, model, report);
        if (!rest.take(r, model, report)) read_rest(r, model, report);
        return;
    }
    read_points(r, model, report);
    read_rest(r, model, report);
}

// The file's lines: the line ends taken, and one more for bytes after the last of them. A
// record read from the empty line after a final CR LF or LF CR pair lies past them: it is put
// on the last line.
[[maybe_unused]] void finish_report(LoadReport& report, const LineCount& count) {
    report.lines = count.ends_taken + (count.open ? 1 : 0);
    const std::uint64_t last = report.lines;
    if (report.cut_short) report.cut_line = last;
    for (std::vector<std::uint64_t>* lines : {&report.face_line, &report.line_line}) {
        for (std::uint64_t& line : *lines)
            line = std::min(line, last);
    }
    for (Tally* tally :
         {&report.faces_edge_outside, &report.faces_bad_count, &report.lines_edge_outside}) {
        tally->first_line = std::min(tally->first_line, last);
    }
}

// a read error ends the input like its end; whether there was one is asked once it has ended
bool input_failed(const ByteSource* source) {
    return source != nullptr && source->input->failed != nullptr &&
           source->input->failed(source->input->context);
}

// Split, when given, is the input that read_at reads while the stream reads it (or its bytes),
// and window the size of the window of the stream.
template <bool Report>
LoadStatus load(ByteStream& stream, Model& model, LoadReport* report,
                const RokInput* split = nullptr, std::size_t window = 0) {
    try {
        Cursor<Report> r{{}, stream, {}, 0, 0, 0};
        const bool rok = read_magic(r.in, r);
        if (rok) {
            read_model(r, model, report, split, window);
            if constexpr (Report) finish_report(*report, r);
        }
        if (input_failed(stream.source)) return LoadStatus::read_error;
        return rok ? LoadStatus::ok : LoadStatus::not_rok;
    } catch (const std::bad_alloc&) {
        return LoadStatus::out_of_memory;
    } catch (const std::length_error&) {
        return LoadStatus::out_of_memory;
    } catch (...) {
        // thrown by the input's read function
        return LoadStatus::read_error;
    }
}

// how much of the input is held in memory at a time: the reader works through it and reads on
constexpr std::size_t kWindow = std::size_t{1} << 18;

// whether an input of so many bytes is worth a second thread
bool worth_splitting(std::uint64_t size, std::uint64_t split_bytes) {
    return size >= split_bytes && std::thread::hardware_concurrency() != 1;
}

template <bool Report>
LoadStatus load_through(const RokInput& input, std::size_t window, Model& model, LoadReport* report,
                        std::uint64_t split_bytes = kSplitBytes) {
    try {
        ByteSource source;
        source.input = &input;
        source.window.resize(window);
        source.unread = input.size;
        ByteStream stream = source_stream(source);
        const bool split = input.read_at != nullptr && worth_splitting(input.size, split_bytes);
        return load<Report>(stream, model, report, split ? &input : nullptr, window);
    } catch (const std::bad_alloc&) {
        return LoadStatus::out_of_memory;
    }
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

}  // namespace

namespace {

// bytes in memory, read in two parts at once where they are large enough
template <bool Report>
LoadStatus load_bytes(std::span<const unsigned char> bytes, Model& model, LoadReport* report) {
    ByteStream stream = byte_stream(bytes);
    Bytes held{bytes};
    RokInput split;
    split.context = &held;
    split.size = bytes.size();
    split.read_at = &Bytes::read_at;
    const bool worth = worth_splitting(bytes.size(), kSplitBytes);
    return load<Report>(stream, model, report, worth ? &split : nullptr, kWindow);
}

}  // namespace

#if !defined(ROKCONV_READER_FOR_REPORT)

LoadStatus load_rok(std::span<const unsigned char> bytes, Model& model) {
    return load_bytes<false>(bytes, model, nullptr);
}

LoadStatus load_rok_windowed(const RokInput& input, std::size_t window, Model& model,
                             std::uint64_t split_bytes) {
    return load_through<false>(input, window, model, nullptr, split_bytes);
}

LoadStatus load_rok(const RokInput& input, Model& model) {
    return load_through<false>(input, kWindow, model, nullptr);
}

#else

LoadStatus load_rok(std::span<const unsigned char> bytes, Model& model, LoadReport& report) {
    report = LoadReport{};
    return load_bytes<true>(bytes, model, &report);
}

LoadStatus load_rok_windowed(const RokInput& input, std::size_t window, Model& model,
                             LoadReport& report, std::uint64_t split_bytes) {
    report = LoadReport{};
    return load_through<true>(input, window, model, &report, split_bytes);
}

LoadStatus load_rok(const RokInput& input, Model& model, LoadReport& report) {
    return load_rok_windowed(input, kWindow, model, report);
}

#endif

}  // namespace rokconv

// A large file read by two threads at once: the caller's thread reads the points while another
// reads the rest.
#pragma once

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <mutex>
#include <optional>
#include <string_view>
#include <system_error>
#include <thread>
#include <vector>

#include "rok/blocks.hpp"
#include "rok/cursor.hpp"
#include "rok/line_reader.hpp"
#include "rokconv/rok.hpp"

namespace rokconv::rok {

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
        if (!r.in.eof && r.is(PointRecord::kClose)) {
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
        constexpr std::string_view kClose = PointRecord::kClose;
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
            Cursor<Report> r;
            r.in = source_stream(source);
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

}  // namespace rokconv::rok

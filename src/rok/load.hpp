// The reader of a whole ROK file, made twice: plain, in rok_reader.cpp, and counting lines for a
// report, in rok_report.cpp.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <new>
#include <stdexcept>
#include <vector>

#include "rok/blocks.hpp"
#include "rok/cursor.hpp"
#include "rok/line_reader.hpp"
#include "rokconv/rok.hpp"
#include "util/parallel.hpp"  // ROKCONV_THREADS
#if ROKCONV_THREADS
#include "rok/split.hpp"
#endif

namespace rokconv::rok {

// The whole file after the magic. With split, the input read_at can read and the window the
// reader reads it through, the part after the point block may be read by another thread.
template <bool Report>
void read_model(Cursor<Report>& r, Model& model, LoadReport* report,
                const RokInput* split = nullptr, std::size_t window = 0) {
    r.next();  // the rest of the magic's line
    if (!r.skip_past("POINT")) {
        if constexpr (Report) note_cut(*report, RokBlock::header);
    }
#if ROKCONV_THREADS
    if (split != nullptr && !r.in.eof) {
        RestOfFile<Report> rest(*split, stream_offset(r.in), window);
        read_points(r, model, report);
        if (!rest.take(r, model, report)) read_rest(r, model, report);
        return;
    }
#else
    (void)split;
    (void)window;
#endif
    read_points(r, model, report);
    read_rest(r, model, report);
}

// The file's lines: the line ends taken, and one more for bytes after the last of them. A
// record read from the empty line after a final CR LF or LF CR pair lies past them: it is put
// on the last line.
inline void finish_report(LoadReport& report, const LineCount& count) {
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
inline bool input_failed(const ByteSource* source) {
    return source != nullptr && source->input->failed != nullptr &&
           source->input->failed(source->input->context);
}

// A ROK file from the stream into model, and for a report (Report) into report, which is empty.
// Split, when given, is the input that read_at reads while the stream reads it (or its bytes),
// and window the size of the window of the stream.
template <bool Report>
LoadStatus read_rok(ByteStream& stream, Model& model, LoadReport* report, const RokInput* split,
                    std::size_t window) {
    try {
        Cursor<Report> r;
        r.in = stream;
        const bool rok = read_magic(r);
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

extern template LoadStatus read_rok<false>(ByteStream&, Model&, LoadReport*, const RokInput*,
                                           std::size_t);
extern template LoadStatus read_rok<true>(ByteStream&, Model&, LoadReport*, const RokInput*,
                                          std::size_t);

}  // namespace rokconv::rok

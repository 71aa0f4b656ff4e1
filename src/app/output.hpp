// Writing an output file without losing what is on disk.
#pragma once

#include <span>
#include <string>

namespace rokconv {

enum class WriteResult {
    written,
    not_created,  // the output may not be written, or cannot be created or put in place
    not_written,  // writing failed (a full disk, a file size limit); nothing was replaced
};

struct OutputFile {
    std::string name;
    std::span<const unsigned char> bytes;
};

// Writes each file as a plain create would, following a link at its name and refusing a file
// the process may not write, but through a temporary file beside the file that is renamed over
// it once complete: a failure leaves neither a partial file nor a damaged earlier one. Every
// temporary file is complete before the first is renamed, so a failure while writing any leaves
// none replaced. An earlier file keeps its permission bits, and its owner and group where the
// process may set them. Where no temporary file can be made beside it (its folder is not
// writable), or it has other hard links that must see the new contents, it is written in place.
// On failure, failed is the index of the file that failed.
[[nodiscard]] WriteResult write_files(std::span<const OutputFile> files, std::size_t& failed);

// SIGINT, SIGTERM and SIGHUP remove the temporary files still being written, then end the
// process as the signal would; SIGPIPE is ignored, so a closed pipe is a failed write.
void remove_temporaries_on_signals();

}  // namespace rokconv

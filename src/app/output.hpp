// Writing an output file without losing what is on disk.
#pragma once

#include <span>
#include <string>
#include <vector>

namespace rokconv {

enum class WriteResult {
    written,
    not_created,  // the output may not be written, or cannot be created or put in place
    not_written,  // writing failed (a full disk, a file size limit); nothing was replaced
};

struct Staged;

// Files written as a plain create would write them, following a link at each name and refusing
// a file the process may not write, but through a temporary file beside each that is renamed
// over it once complete: a failure leaves neither a partial file nor a damaged earlier one.
// Every temporary file is complete before the first is renamed, so a failure while writing any
// leaves none replaced. An earlier file keeps its permission bits, and its owner and group where
// the process may set them. Where no temporary file can be made beside it (its folder is not
// writable), or it has other hard links that must see the new contents, a file is written in
// place, its bytes held in memory until commit. What is not committed is discarded.
class Outputs {
  public:
    Outputs();
    Outputs(const Outputs&) = delete;
    Outputs& operator=(const Outputs&) = delete;
    ~Outputs();

    // Makes ready to write each named file; on failure, failed is the index of the file that
    // could not be and nothing is left behind.
    [[nodiscard]] WriteResult open(std::span<const std::string> names, std::size_t& failed);
    // appends bytes to file i; a failure shows at commit
    void write(std::size_t i, std::span<const unsigned char> bytes);
    // Puts every file in place; on failure, failed is the index of the file that failed.
    [[nodiscard]] WriteResult commit(std::size_t& failed);

  private:
    std::vector<Staged> files_;
};

// all the bytes to an open file, pipe or device; false when a write fails
[[nodiscard]] bool write_all(int fd, std::span<const unsigned char> bytes);

// SIGINT, SIGTERM and SIGHUP remove the temporary files still being written, then end the
// process as the signal would; SIGPIPE is ignored, so a closed pipe is a failed write.
void remove_temporaries_on_signals();

}  // namespace rokconv

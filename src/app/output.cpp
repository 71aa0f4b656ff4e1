#include "app/output.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdio>
#include <cstring>

namespace rokconv {

namespace {

// The temporary files being written, for the signal handler to remove. A slot's path is
// complete before it is marked live, so the handler never sees half of one; only lock-free
// atomics and unlink are used there.
struct Temporary {
    std::atomic<bool> taken{false};
    std::atomic<bool> live{false};
    char path[PATH_MAX] = {};
};
constexpr int kTemporaries = 64;
Temporary temporaries[kTemporaries];

extern "C" void remove_temporaries(int signal) {
    for (Temporary& t : temporaries) {
        if (t.live.load()) unlink(t.path);
    }
    // the handler was reset on entry: the signal, raised again, ends the process once it returns
    raise(signal);
}

// A temporary file in folder dir, opened exclusively with the permissions of a new file, and
// registered for removal on a signal (slot, or -1 when every slot is taken). -1 when none can
// be made.
int create_temporary(const std::string& dir, std::string& path, int& slot) {
    static std::atomic<unsigned> counter{0};
    slot = -1;
    for (int i = 0; i < kTemporaries && slot < 0; ++i) {
        bool free = false;
        if (temporaries[i].taken.compare_exchange_strong(free, true)) slot = i;
    }
    for (int attempt = 0; attempt < 100; ++attempt) {
        char name[64];
        std::snprintf(name, sizeof name, ".rokconv-%08lx-%u.tmp",
                      static_cast<unsigned long>(getpid()), counter++);
        path = dir.empty() ? name : dir + "/" + name;
        if (slot >= 0 && path.size() < PATH_MAX) {
            std::memcpy(temporaries[slot].path, path.c_str(), path.size() + 1);
            temporaries[slot].live.store(true);
        }
        const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd >= 0) return fd;
        if (slot >= 0) temporaries[slot].live.store(false);
        if (errno != EEXIST) break;
    }
    if (slot >= 0) temporaries[slot].taken.store(false);
    return -1;
}

void release(int slot) {
    if (slot < 0) return;
    temporaries[slot].live.store(false);
    temporaries[slot].taken.store(false);
}

bool write_all(int fd, std::span<const unsigned char> bytes) {
    while (!bytes.empty()) {
        const ssize_t n = write(fd, bytes.data(), bytes.size());
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        bytes = bytes.subspan(static_cast<std::size_t>(n));
    }
    return true;
}

// the folder part of a path, "" for a name in the current directory
std::string folder_of(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    if (slash == std::string::npos) return {};
    return slash == 0 ? "/" : path.substr(0, slash);
}

// The file an open descriptor refers to, links resolved; empty where the system does not say.
std::string opened_path(int fd) {
    char link[64];
    std::snprintf(link, sizeof link, "/proc/self/fd/%d", fd);
    char target[PATH_MAX];
    const ssize_t n = readlink(link, target, sizeof target - 1);
    if (n <= 0 || target[0] != '/') return {};
    return std::string(target, static_cast<std::size_t>(n));
}

// Writes the bytes to a temporary file in dir and renames it to target. earlier is the file
// being replaced, whose permissions and owners the new one takes, or null.
WriteResult replace(const std::string& dir, const std::string& target,
                    std::span<const unsigned char> bytes, const struct stat* earlier,
                    bool& no_temporary) {
    std::string temporary;
    int slot;
    const int fd = create_temporary(dir, temporary, slot);
    no_temporary = fd < 0;
    if (fd < 0) return WriteResult::not_created;
    if (earlier != nullptr) {
        // The owner first: changing it clears set-id bits, which the mode then puts back. Where
        // the process may not give the file away, it stays the process's own.
        if (fchown(fd, earlier->st_uid, earlier->st_gid) != 0) errno = 0;
        if (fchmod(fd, earlier->st_mode & 07777) != 0) errno = 0;
    }
    const bool written = write_all(fd, bytes);
    if (close(fd) != 0 || !written) {
        unlink(temporary.c_str());
        release(slot);
        return WriteResult::not_written;
    }
    const bool renamed = rename(temporary.c_str(), target.c_str()) == 0;
    if (!renamed) unlink(temporary.c_str());
    release(slot);
    return renamed ? WriteResult::written : WriteResult::not_created;
}

// Writes the bytes over the file open at fd, and closes it.
WriteResult write_in_place(int fd, std::span<const unsigned char> bytes) {
    struct stat st;
    // the file was opened without waiting for a pipe's reader; writing waits as a create would
    const int flags = fcntl(fd, F_GETFL);
    if (flags >= 0) (void)fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
    bool written = fstat(fd, &st) == 0 && (!S_ISREG(st.st_mode) || ftruncate(fd, 0) == 0);
    written = written && write_all(fd, bytes);
    written = close(fd) == 0 && written;
    return written ? WriteResult::written : WriteResult::not_written;
}

}  // namespace

WriteResult write_file(const std::string& name, std::span<const unsigned char> bytes) {
    // the earlier file, through any links, if the process may write it; the kernel's checks of
    // permissions and of links in shared sticky folders apply here
    int fd = open(name.c_str(), O_WRONLY | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    bool made = false;  // the file was created by this call, through a link to nowhere
    if (fd < 0) {
        struct stat link;
        if (errno != ENOENT) return WriteResult::not_created;
        if (lstat(name.c_str(), &link) != 0) {
            // nothing there yet
            bool no_temporary;
            return replace(folder_of(name), name, bytes, nullptr, no_temporary);
        }
        // a link to nowhere creates its target, as a plain create does
        fd = open(name.c_str(), O_WRONLY | O_CREAT | O_NOCTTY | O_NONBLOCK | O_CLOEXEC, 0666);
        if (fd < 0) return WriteResult::not_created;
        made = true;
    }
    struct stat st;
    const std::string target = opened_path(fd);
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_nlink > 1 || target.empty()) {
        // a device or pipe, a file other links must see anew, or one whose place is not known
        return write_in_place(fd, bytes);
    }
    bool no_temporary;
    WriteResult result =
        replace(folder_of(target), target, bytes, made ? nullptr : &st, no_temporary);
    if (no_temporary) {
        // a folder that takes no new file: the file itself is written, as a plain create would
        result = write_in_place(fd, bytes);
    } else {
        close(fd);  // only opened, to find the file and to have the kernel's leave to write it
    }
    if (made && result != WriteResult::written) unlink(target.c_str());
    return result;
}

void remove_temporaries_on_signals() {
    struct sigaction action = {};
    action.sa_handler = &remove_temporaries;
    action.sa_flags = SA_RESETHAND;
    sigemptyset(&action.sa_mask);
    for (const int signal : {SIGINT, SIGTERM, SIGHUP}) {
        struct sigaction earlier;
        // a signal ignored by whoever started the process (nohup) stays ignored
        if (sigaction(signal, nullptr, &earlier) == 0 && earlier.sa_handler != SIG_IGN) {
            sigaction(signal, &action, nullptr);
        }
    }
    std::signal(SIGPIPE, SIG_IGN);
}

}  // namespace rokconv

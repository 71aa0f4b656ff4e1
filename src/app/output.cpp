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
#include <vector>

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

// A file written as far as it can be before it is put in place: to its temporary file, or, where
// it is written in place, held in memory.
struct Staged {
    std::string target;     // where it goes: the file opened, links resolved
    std::string temporary;  // empty where the file is written in place
    int slot = -1;          // the temporary's registration for the signal handler
    int out = -1;           // the temporary file, open while it is written
    int fd = -1;            // the earlier file, written at commit where it is written in place
    bool made = false;      // the target was created by staging, through a link to nowhere
    bool failed = false;    // a write to the temporary file failed
    std::vector<unsigned char> held;  // the bytes of a file written in place
};

namespace {

void discard(Staged& s) {
    if (s.out >= 0) close(s.out);
    if (!s.temporary.empty()) unlink(s.temporary.c_str());
    release(s.slot);
    if (s.fd >= 0) close(s.fd);
    if (s.made) unlink(s.target.c_str());
    s = Staged{};
}

// A temporary file in dir to write into. earlier is the file being replaced, whose permissions
// and owners the new one takes, or null. False when no temporary file can be made there.
bool make_temporary(Staged& s, const std::string& dir, const struct stat* earlier) {
    s.out = create_temporary(dir, s.temporary, s.slot);
    if (s.out < 0) {
        s.temporary.clear();
        return false;
    }
    if (earlier != nullptr) {
        // The owner first: changing it clears set-id bits, which the mode then puts back. Where
        // the process may not give the file away, it stays the process's own.
        if (fchown(s.out, earlier->st_uid, earlier->st_gid) != 0) errno = 0;
        if (fchmod(s.out, earlier->st_mode & 07777) != 0) errno = 0;
    }
    return true;
}

bool stage(const std::string& name, Staged& s) {
    // the earlier file, through any links, if the process may write it; the kernel's checks of
    // permissions and of links in shared sticky folders apply here
    s.fd = open(name.c_str(), O_WRONLY | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (s.fd < 0) {
        struct stat link;
        if (errno != ENOENT) return false;
        if (lstat(name.c_str(), &link) != 0) {
            // nothing there yet
            s.target = name;
            return make_temporary(s, folder_of(name), nullptr);
        }
        // a link to nowhere creates its target, as a plain create does
        s.fd = open(name.c_str(), O_WRONLY | O_CREAT | O_NOCTTY | O_NONBLOCK | O_CLOEXEC, 0666);
        if (s.fd < 0) return false;
        s.made = true;
    }
    struct stat st;
    s.target = opened_path(s.fd);
    // a device or pipe, a file other links must see anew, or one whose place is not known: it
    // is written in place
    if (fstat(s.fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_nlink > 1 || s.target.empty()) {
        return true;
    }
    // a folder that takes no new file: the file itself is written at commit, as a plain create
    // would write it
    if (make_temporary(s, folder_of(s.target), s.made ? nullptr : &st)) {
        close(s.fd);  // only opened, to find the file and to have the kernel's leave to write it
        s.fd = -1;
    }
    return true;
}

// Closes the temporary file, which is then complete: false when it could not be written.
bool complete(Staged& s) {
    if (s.out < 0) return true;
    const bool closed = close(s.out) == 0;
    s.out = -1;
    return closed && !s.failed;
}

WriteResult put_in_place(Staged& s) {
    WriteResult result = WriteResult::written;
    if (s.temporary.empty()) {
        result = write_in_place(s.fd, s.held);
        s.fd = -1;
    } else if (rename(s.temporary.c_str(), s.target.c_str()) != 0) {
        result = WriteResult::not_created;
    } else {
        s.temporary.clear();
    }
    s.made = s.made && result != WriteResult::written;
    discard(s);
    return result;
}

}  // namespace

bool write_all(int fd, std::span<const unsigned char> bytes) {
    while (!bytes.empty()) {
        const ssize_t n = write(fd, bytes.data(), bytes.size());
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        bytes = bytes.subspan(static_cast<std::size_t>(n));
    }
    return true;
}

Outputs::Outputs() = default;

Outputs::~Outputs() {
    for (Staged& s : files_)
        discard(s);
}

WriteResult Outputs::open(std::span<const std::string> names, std::size_t& failed) {
    files_.resize(names.size());
    for (std::size_t i = 0; i < names.size(); ++i) {
        if (!stage(names[i], files_[i])) {
            for (Staged& s : files_)
                discard(s);
            failed = i;
            return WriteResult::not_created;
        }
    }
    return WriteResult::written;
}

void Outputs::write(std::size_t i, std::span<const unsigned char> bytes) {
    Staged& s = files_[i];
    if (s.out >= 0) {
        s.failed = s.failed || !write_all(s.out, bytes);
    } else {
        s.held.insert(s.held.end(), bytes.begin(), bytes.end());
    }
}

WriteResult Outputs::commit(std::size_t& failed) {
    // nothing is put in place unless every file could be written
    for (std::size_t i = 0; i < files_.size(); ++i) {
        if (!complete(files_[i])) {
            failed = i;
            return WriteResult::not_written;
        }
    }
    for (std::size_t i = 0; i < files_.size(); ++i) {
        const WriteResult result = put_in_place(files_[i]);
        if (result != WriteResult::written) {
            failed = i;
            return result;  // the files after it are discarded with the Outputs
        }
    }
    return WriteResult::written;
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

// Preloaded into rokconv by the command-line tests. With ROKCONV_TEST_FAIL_CLOSE set, closing a
// file opened for writing closes it and then reports a failure, as a file system may when the
// last data reaches the disk only then. With ROKCONV_TEST_SLOW_WRITE set, each write to a file
// waits that many seconds first, so that a test can interrupt a conversion while it writes.
#include <dlfcn.h>
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

extern "C" int close(int fd) {
    using Close = int (*)(int);
    static const auto real = reinterpret_cast<Close>(dlsym(RTLD_NEXT, "close"));
    const int flags = fcntl(fd, F_GETFL);
    const bool writing = flags >= 0 && (flags & O_ACCMODE) != O_RDONLY;
    const int result = real(fd);
    if (!writing || std::getenv("ROKCONV_TEST_FAIL_CLOSE") == nullptr) return result;
    errno = EIO;
    return -1;
}

extern "C" ssize_t write(int fd, const void* bytes, size_t n) {
    using Write = ssize_t (*)(int, const void*, size_t);
    static const auto real = reinterpret_cast<Write>(dlsym(RTLD_NEXT, "write"));
    if (const char* delay = std::getenv("ROKCONV_TEST_SLOW_WRITE"); delay != nullptr && fd > 2) {
        sleep(static_cast<unsigned>(std::atoi(delay)));
    }
    return real(fd, bytes, n);
}

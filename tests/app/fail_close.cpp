// Preloaded into rokconv by the command-line test: closing a stream opened for writing closes it
// and then reports a failure, as a file system may when the last data reaches the disk only then.
#include <dlfcn.h>
#include <stdio_ext.h>

#include <cerrno>
#include <cstdio>

extern "C" int fclose(std::FILE* stream) {
    using Close = int (*)(std::FILE*);
    static const auto real = reinterpret_cast<Close>(dlsym(RTLD_NEXT, "fclose"));
    const bool writing = __fwritable(stream) != 0;
    const int result = real(stream);
    if (!writing) return result;
    errno = EIO;
    return EOF;
}

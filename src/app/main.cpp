#include <clocale>
#include <csignal>

#include "app/app.hpp"
#include "app/output.hpp"

int main(int argc, char** argv) {
    // only the character classification of path names comes from the environment; numbers are
    // read without the locale
    std::setlocale(LC_CTYPE, "");
#ifdef SIGXFSZ
    // past a file size limit a write then fails and is reported, instead of killing the process
    std::signal(SIGXFSZ, SIG_IGN);
#endif
    rokconv::remove_temporaries_on_signals();
    return rokconv::run(argc, argv);
}

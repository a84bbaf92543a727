#include "platform/Console.h"

#include "platform/PosixFiles.h"

#include <atomic>
#include <cerrno>
#include <clocale>
#include <csignal>
#include <cstring>
#include <unistd.h>

namespace velmo::console {
namespace {

int Descriptor(Stream stream) {
    return stream == Stream::Out ? STDOUT_FILENO : STDERR_FILENO;
}

void WriteAll(int fd, std::string_view bytes, const char* name) {
    while (!bytes.empty()) {
        const ssize_t put = ::write(fd, bytes.data(), bytes.size());
        if (put < 0 && errno == EINTR)
            continue;
        if (put <= 0)
            throw PlatformError(WindowsCode(errno), std::strerror(errno), name);
        bytes.remove_prefix(static_cast<std::size_t>(put));
    }
}

volatile std::sig_atomic_t g_interruption = 0;

extern "C" void OnSignal(int signal) {
    // A second Ctrl+C ends the program at once, as the default action does.
    if (signal == SIGINT && g_interruption == SIGINT) {
        std::signal(SIGINT, SIG_DFL);
        std::raise(SIGINT);
        return;
    }
    g_interruption = signal;
}

} // namespace

void CatchInterruptions() {
    struct sigaction action {};
    action.sa_handler = OnSignal;
    sigemptyset(&action.sa_mask);
    // No SA_RESTART needed: every read and write here goes on after EINTR.
    for (int signal : {SIGINT, SIGTERM, SIGHUP})
        ::sigaction(signal, &action, nullptr);
}

int Interruption() {
    return g_interruption;
}

void Stopped() {}

std::vector<std::string> Start(int argc, char** argv) {
    std::setlocale(LC_ALL, "");
    return std::vector<std::string>(argv + (argc > 0 ? 1 : 0), argv + argc);
}

bool IsTerminal(Stream stream) {
    return ::isatty(Descriptor(stream)) == 1;
}

void Write(Stream stream, std::string_view utf8) {
    try {
        WriteAll(Descriptor(stream), utf8, "(Ausgabe)");
    } catch (const PlatformError&) {
        if (stream == Stream::Out)
            throw; // a closed pipe on stdout ends the run; stderr is best effort
    }
}

std::string ReadAllInput() {
    std::string bytes;
    char buffer[1 << 16];
    for (;;) {
        const ssize_t got = ::read(STDIN_FILENO, buffer, sizeof buffer);
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0)
            throw PlatformError(WindowsCode(errno), std::strerror(errno), "(Standardeingabe)");
        if (got == 0)
            return bytes;
        bytes.append(buffer, static_cast<std::size_t>(got));
    }
}

void WriteOutput(std::string_view bytes) {
    WriteAll(STDOUT_FILENO, bytes, "(Standardausgabe)");
}

} // namespace velmo::console

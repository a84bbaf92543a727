#include "platform/Console.h"

#include "platform/PosixFiles.h"

#include <atomic>
#include <cerrno>
#include <clocale>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
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
        // Where SIGPIPE is not ignored, a closed pipe ends the program at the
        // write; where it is, the write fails with EPIPE.
        if (put < 0 && errno == EPIPE)
            throw OutputClosed();
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

namespace {

// A program started with a standard descriptor closed (`2>&-`, a job or hook
// started so) would hand that number to the first file it opens, and every
// notice meant for stderr would land in that file: a script's temporary file,
// the filter's spool. Each closed one gets /dev/null, opened against its
// direction (standard input for writing, the others for reading) so that using
// it still fails as using a closed one does: a --help into a closed stdout is
// an error, not a silent success.
void OccupyClosedStandardDescriptors() {
    for (int fd = STDIN_FILENO; fd <= STDERR_FILENO; ++fd) {
        if (::fcntl(fd, F_GETFD) >= 0 || errno != EBADF)
            continue;
        const int opened = ::open("/dev/null", fd == STDIN_FILENO ? O_WRONLY : O_RDONLY);
        if (opened == fd)
            continue;
        // No /dev/null (a bare chroot): nothing can be known safe, so nothing
        // is risked.
        if (opened >= 0)
            ::close(opened);
        static constexpr char kLine[] = "velmo-umlaute: /dev/null fehlt, eine Standardausgabe "
                                        "ist geschlossen\n";
        if (fd != STDERR_FILENO) {
            [[maybe_unused]] const ssize_t told = ::write(STDERR_FILENO, kLine, sizeof kLine - 1);
        }
        std::_Exit(2);
    }
}

} // namespace

std::vector<std::string> Start(int argc, char** argv) {
    OccupyClosedStandardDescriptors();
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
            throw; // a failed write on stdout is the caller's to tell; stderr is best effort
    } catch (const OutputClosed&) {
        if (stream == Stream::Out)
            throw; // so does a closed pipe, quietly
    }
}

std::size_t ReadInput(char* buffer, std::size_t room) {
    for (;;) {
        const ssize_t got = ::read(STDIN_FILENO, buffer, room);
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0)
            throw PlatformError(WindowsCode(errno), std::strerror(errno), "(Standardeingabe)");
        return static_cast<std::size_t>(got);
    }
}

void WriteOutput(std::string_view bytes) {
    WriteAll(STDOUT_FILENO, bytes, "(Standardausgabe)");
}

namespace {

constexpr const char* kScratchName = "(temporäre Datei)";

std::string TemporaryFolder() {
    const char* folder = std::getenv("TMPDIR");
    return folder && *folder ? folder : "/tmp";
}

} // namespace

ScratchFile::ScratchFile() {
    // Without a name (O_TMPFILE), so that nothing is left behind whatever
    // ends the program; where the file system cannot, tmpfile()'s file,
    // removed as soon as it is made.
    const std::string folder = TemporaryFolder();
    int fd = ::open(folder.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
    if (fd < 0 && (errno == EOPNOTSUPP || errno == EISDIR || errno == EINVAL)) {
        std::string name = folder + "/velmo-umlaute-XXXXXX";
        fd = ::mkostemp(name.data(), O_CLOEXEC);
        if (fd >= 0)
            ::unlink(name.c_str());
    }
    if (fd < 0)
        throw PlatformError(WindowsCode(errno), std::strerror(errno), folder);
    handle_ = fd;
}

ScratchFile::~ScratchFile() {
    ::close(static_cast<int>(handle_));
}

void ScratchFile::Append(std::string_view bytes) {
    WriteAll(static_cast<int>(handle_), bytes, kScratchName);
}

void ScratchFile::Rewind() {
    if (::lseek(static_cast<int>(handle_), 0, SEEK_SET) < 0)
        throw PlatformError(WindowsCode(errno), std::strerror(errno), kScratchName);
}

std::size_t ScratchFile::Read(char* buffer, std::size_t room) {
    for (;;) {
        const ssize_t got = ::read(static_cast<int>(handle_), buffer, room);
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0)
            throw PlatformError(WindowsCode(errno), std::strerror(errno), kScratchName);
        return static_cast<std::size_t>(got);
    }
}

} // namespace velmo::console

// The standard streams of a console program: text in UTF-8, shown correctly on
// a Windows console as on a terminal or in a file it is redirected to; bytes
// unchanged in and out for a filter.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace velmo::console {

enum class Stream { Out, Err };

// Binary standard streams, the user's regional settings for the system's texts,
// dates and times; the arguments after the program's name in UTF-8.
std::vector<std::string> Start(int argc, char** argv);
#ifdef _WIN32
std::vector<std::string> Start(int argc, wchar_t** argv);
#endif

// From now on Ctrl+C, SIGTERM and SIGHUP (Windows: Ctrl+C, Ctrl+Break, closing
// the console window) only ask the run to stop: Interruption() then names what
// asked, until which the run goes on to its next safe point. A second Ctrl+C
// ends the program at once.
void CatchInterruptions();
// 0 while nothing asked the run to stop; else the signal's number (Windows: 2
// for Ctrl+C, 21 for Ctrl+Break, 1 for closing the console).
int Interruption();
// Tells a console being closed that the run has reached its safe point.
void Stopped();

// True when the stream is a console or terminal rather than a file or pipe.
bool IsTerminal(Stream stream);
// UTF-8 text: on a Windows console as characters, elsewhere as UTF-8 bytes.
void Write(Stream stream, std::string_view utf8);
// Standard input as it comes, and bytes to standard output, unchanged.
// ReadInput puts up to `room` bytes into `buffer` and returns how many, 0 at
// the end of the input. Failures throw PlatformError; WriteOutput to a reader
// that has gone (a closed pipe: `| head`) throws OutputClosed instead, which
// ends a filter quietly.
std::size_t ReadInput(char* buffer, std::size_t room);
void WriteOutput(std::string_view bytes);
struct OutputClosed {};

// A temporary file no other program sees, removed when it is closed or the
// program ends in any way: for input that must wait until all of it is read.
// In $TMPDIR (else /tmp) without a name on Linux, in the user's temporary
// folder on Windows. Failures throw PlatformError.
class ScratchFile {
  public:
    ScratchFile();
    ~ScratchFile();
    ScratchFile(const ScratchFile&) = delete;
    ScratchFile& operator=(const ScratchFile&) = delete;

    void Append(std::string_view bytes);
    // Back to the file's start, for Read.
    void Rewind();
    // Like ReadInput, from the file.
    std::size_t Read(char* buffer, std::size_t room);

  private:
    std::intptr_t handle_;
};

} // namespace velmo::console

// The standard streams of a console program: text in UTF-8, shown correctly on
// a Windows console as on a terminal or in a file it is redirected to; bytes
// unchanged in and out for a filter.
#pragma once

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

// True when the stream is a console or terminal rather than a file or pipe.
bool IsTerminal(Stream stream);
// UTF-8 text: on a Windows console as characters, elsewhere as UTF-8 bytes.
void Write(Stream stream, std::string_view utf8);
// All of standard input, and bytes to standard output, unchanged. Failures
// throw PlatformError.
std::string ReadAllInput();
void WriteOutput(std::string_view bytes);

} // namespace velmo::console

// The backup's name, for any script path, date text, time text and counter:
// it lies in the script's directory, its file name is the script's name, date
// and time (and counter) with only the characters a Windows file name cannot
// hold (and the dots) turned into "_", and it ends in ".bak".
#include "convert/ScriptFile.h"
#include "fuzz_check.h"

#include <fuzzer/FuzzedDataProvider.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace {

bool WindowsFileNameCanHold(char c) {
    return static_cast<unsigned char>(c) >= 32 &&
           std::string_view("<>:\"/\\|?*").find(c) == std::string_view::npos;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzedDataProvider in(data, size);
    const int counter = in.ConsumeIntegral<int>();
    velmo::DateTimeTexts now;
    now.date = in.ConsumeRandomLengthString(24);
    now.time = in.ConsumeRandomLengthString(24);
    const std::string script = in.ConsumeRemainingBytesAsString();

    const std::string backup = velmo::BackupName(script, now, counter);

    const std::size_t slash = script.find_last_of("\\/");
    const std::size_t nameStart = slash == std::string::npos ? 0 : slash + 1;
    FUZZ_CHECK(backup.compare(0, nameStart, script, 0, nameStart) == 0);
    const std::string_view name = std::string_view(backup).substr(nameStart);
    FUZZ_CHECK(name.size() >= 4 && name.substr(name.size() - 4) == ".bak");

    // Character for character what it was built from, or "_" where that one cannot stay.
    std::string source = script.substr(nameStart) + "_" + now.date + "_" + now.time;
    if (counter > 1)
        source += "_" + std::to_string(counter);
    const std::string_view stem = name.substr(0, name.size() - 4);
    FUZZ_CHECK(stem.size() == source.size());
    for (std::size_t k = 0; k < stem.size(); ++k) {
        FUZZ_CHECK(WindowsFileNameCanHold(stem[k]) && stem[k] != '.');
        if (WindowsFileNameCanHold(source[k]) && source[k] != '.')
            FUZZ_CHECK(stem[k] == source[k]);
        else
            FUZZ_CHECK(stem[k] == '_');
    }
    return 0;
}

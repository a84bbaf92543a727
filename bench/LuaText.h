// Generated Lua scripts as German map authors write them: mostly code, with
// German comments and message strings in Windows-1252 (about 2 % of the bytes
// are umlauts or ß), lines ended by CR LF. The same every run.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace velmo::bench {

class LuaTextGenerator {
  public:
    // Appends whole lines to `out` until it holds at least `size` bytes.
    void AppendLines(std::string& out, std::size_t size);

  private:
    std::uint32_t Next(std::uint32_t below);
    std::uint32_t state_ = 12345;
};

// A text of exactly `size` bytes.
std::string MakeLuaText(std::size_t size);

// Share of the bytes that are one of the seven characters, in percent.
double UmlautPercent(const std::string& text);

} // namespace velmo::bench

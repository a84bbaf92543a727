#include "bench/LuaText.h"

#include "convert/Umlaute.h"

#include <iterator>

namespace velmo::bench {
namespace {

// Words of comments and messages, in Windows-1252.
// clang-format off
constexpr const char* kWords[] = {
    "Gr\xF6\xDF" "e", "f\xFC" "r", "Schl\xFC" "ssel", "\xC4" "rger", "St\xE4rke", "K\xE4mpfer",
    "Spieler", "Karte", "Einheit", "Wert", "Ziel", "wird", "nicht", "dann", "oder", "und", "mit",
    "Burg", "Truppen", "Gold", "Holz", "Stein", "Eisen", "Nahrung", "Zeit", "Runde", "Sieg",
    "\xDC" "berpr\xFC" "fung", "M\xFChle", "Br\xFC" "cke", "H\xF6he", "T\xFCr", "\xD6l",
    "gew\xE4hlt", "z\xE4hlt", "l\xE4uft", "Stra\xDF" "e", "Bauer", "Ritter", "Turm", "Mauer"};

// Lines of code.
constexpr const char* kCode[] = {
    "local einheit = Einheiten[i]", "if spieler.gold < kosten then", "  return false", "end",
    "for i = 1, #liste do", "  liste[i].wert = liste[i].wert + 1",
    "function Karte.SetzeZiel(x, y)", "  self.ziel = { x = x, y = y }", "else",
    "while runde <= maxRunden do", "  runde = runde + 1", "local t = {}",
    "  table.insert(t, einheit)", "SpielerSetzen(1, \"rot\")", "return self"};
// clang-format on

} // namespace

std::uint32_t LuaTextGenerator::Next(std::uint32_t below) {
    state_ = state_ * 1664525u + 1013904223u; // a fixed linear congruential sequence
    return (state_ >> 8) % below;
}

void LuaTextGenerator::AppendLines(std::string& out, std::size_t size) {
    while (out.size() < size) {
        const std::uint32_t kind = Next(20);
        if (kind < 2) { // a comment line
            out += "-- ";
            for (std::uint32_t w = 0, n = 4 + Next(8); w < n; ++w) {
                out += kWords[Next(std::size(kWords))];
                out += ' ';
            }
        } else if (kind < 4) { // a message
            out += "  Meldung(\"";
            for (std::uint32_t w = 0, n = 2 + Next(5); w < n; ++w) {
                if (w)
                    out += ' ';
                out += kWords[Next(std::size(kWords))];
            }
            out += "\")";
        } else {
            out += kCode[Next(std::size(kCode))];
        }
        out += "\r\n";
    }
}

std::string MakeLuaText(std::size_t size) {
    std::string text;
    text.reserve(size + 256);
    LuaTextGenerator().AppendLines(text, size);
    text.resize(size);
    return text;
}

double UmlautPercent(const std::string& text) {
    std::size_t count = 0;
    for (unsigned char c : text)
        for (const UmlautRow& row : kUmlautRows)
            count += c == row.single;
    return text.empty() ? 0 : 100.0 * static_cast<double>(count) / static_cast<double>(text.size());
}

} // namespace velmo::bench

# The demo installation for tools/run: a Wine prefix holding a fake Velmoria with
# both editions, a fake Notepad++, the registry values the launcher reads, and a
# sample script to convert. The programs are copies of the stand-in, which shows
# a window saying how it was started. Sourced after common.sh.

DEMO_GAME='C:\Spiele\Velmoria'
DEMO_NOTEPAD='C:\Programme\Notepad++'

# The sample script: Windows-1252, CRLF line ends, every umlaut and ß, and not
# the word the conversion warns about.
demo_sample_script() {
  iconv -f UTF-8 -t WINDOWS-1252 <<'LUA' | sed 's/$/\r/'
-- Beispielskript für den Velmo-Starter, gespeichert in Windows-1252.
-- Sonderzeichen im Kommentar: ä ö ü ß Ä Ö Ü
-- "... für Velmo umwandeln" macht daraus die Zwei-Zeichen-Form,
-- "... für mich umwandeln" holt die einzelnen Zeichen zurück.

local Gruss = "Grüß Gott aus Eisenmark! Schöne Grüße nach Sturmtal."
local Orte = { "Bärenhöhle", "Süßwassersee", "Ölmühle", "Übergang am Äußeren Tor" }

function ZeigeOrte()
    for i, Ort in ipairs(Orte) do
        print(i .. ": " .. Ort) -- gibt jeden Ort aus
    end
end

print(Gruss)
ZeigeOrte()
LUA
}

# What the demo installation is made of; a change means it must be written again.
demo_fingerprint() {
  cat "$ROOT/tools/lib/demo.sh" "$1" | sha256sum | cut -d' ' -f1
}

# demo_install STANDIN_EXE: creates or refreshes the demo installation in $WINEPREFIX
# (which start_wine has set up). Quick when nothing changed.
demo_install() {
  local standin=$1 c="$WINEPREFIX/drive_c" stamp="$WINEPREFIX/velmo-demo.stamp" fingerprint
  fingerprint=$(demo_fingerprint "$standin")
  if [[ -f $stamp && $(cat "$stamp") == "$fingerprint" && -f $c/Skripte/beispiel.lua ]]; then
    return 0
  fi
  say "writing the demo installation into $WINEPREFIX"

  local edition program
  for edition in extra1 extra2; do
    mkdir -p "$c/Spiele/Velmoria/$edition/bin"
    for program in Velmoria.exe VelmoriaMapEditor.exe; do
      cp "$standin" "$c/Spiele/Velmoria/$edition/bin/$program"
    done
  done
  # The debugger library (a text file will do) in one edition only, switched off
  # unless the demo has switched it on since.
  local lib="$c/Spiele/Velmoria/extra1/bin/LuaDebugger.dll"
  if [[ ! -e $lib && ! -e $lib.off ]]; then
    printf 'Platzhalter fuer die Lua-Debugger-Bibliothek (Demo)\r\n' >"$lib.off"
  fi
  mkdir -p "$c/Programme/Notepad++"
  cp "$standin" "$c/Programme/Notepad++/Notepad++.exe"
  # The sample script stays as the user last converted it.
  mkdir -p "$c/Skripte"
  [[ -f $c/Skripte/beispiel.lua ]] || demo_sample_script >"$c/Skripte/beispiel.lua"

  # The game registers itself for 32-bit programs; a 64-bit Notepad++ in the
  # 64-bit view, where the launcher looks second (a 32-bit-only prefix has one view).
  "$VELMO_WINE" reg add 'HKLM\SOFTWARE\Quarzwerk\Velmoria' /v InstallPath /t REG_SZ \
    /d "$DEMO_GAME" /f /reg:32 >/dev/null 2>&1 || die "could not write the game's registry value"
  "$VELMO_WINE" reg add 'HKLM\SOFTWARE\Notepad++' /ve /t REG_SZ /d "$DEMO_NOTEPAD" /f /reg:64 \
    >/dev/null 2>&1 ||
    "$VELMO_WINE" reg add 'HKLM\SOFTWARE\Notepad++' /ve /t REG_SZ /d "$DEMO_NOTEPAD" /f \
      >/dev/null 2>&1 || die "could not write Notepad++'s registry value"
  echo "$fingerprint" >"$stamp"
}

# Ids of stand-in programs (started from the demo) still running in $WINEPREFIX.
demo_programs_running() {
  local pid
  for pid in $(pgrep -f 'Velmoria\.exe|VelmoriaMapEditor\.exe|Notepad\+\+\.exe' || true); do
    { tr '\0' '\n' <"/proc/$pid/environ"; } 2>/dev/null | grep -qx "WINEPREFIX=$WINEPREFIX" &&
      echo "$pid"
  done
  return 0
}

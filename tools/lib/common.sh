# Shared by tools/test, tools/run, tools/bench and tools/fuzz: installing what is
# missing, and a private Wine prefix on a private X display.
set -euo pipefail

ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)"
BUILD="$ROOT/build"

say() { printf '==> %s\n' "$*" >&2; }
die() { printf 'error: %s\n' "$*" >&2; exit 1; }

# Debian packages, by the command or file that shows each is there. The paths
# are those of Debian 12 (bookworm), the release these scripts are made for;
# on another release a path such as /usr/lib/llvm-14 may differ (see below).
#
# What starting the launcher needs (tools/run): CMake, the 64-bit mingw-w64
# compiler, Wine, and a virtual display with a window manager and a camera.
declare -A RUN_NEEDED=(
  [cmake]=cmake
  [x86_64-w64-mingw32-g++-posix]=g++-mingw-w64-x86-64-posix
  [wine]="wine wine64"
  [/usr/share/wine/fonts/marlett.ttf]=fonts-wine
  [Xvfb]="xvfb xauth"
  [twm]=twm
  [xwininfo]=x11-utils
  [import]=imagemagick
)
# What building and testing everything needs besides (tools/test, tools/release,
# tools/bench, tools/fuzz, tools/crash).
declare -A TEST_NEEDED=(
  [g++]=g++
  [i686-w64-mingw32-g++-posix]=g++-mingw-w64-i686-posix
  [/usr/src/googletest/CMakeLists.txt]=googletest
  [python3]=python3
  [/usr/lib/python3/dist-packages/Xlib/__init__.py]=python3-xlib
  [setfacl]=acl
  [setfattr]=attr
  [clang]=clang
  [/usr/lib/llvm-14/lib/clang/14.0.6/lib/linux/libclang_rt.fuzzer-x86_64.a]=libclang-rt-14-dev
  [/usr/include/benchmark/benchmark.h]=libbenchmark-dev
  [dpkg-shlibdeps]=dpkg-dev
  [/usr/bin/time]=time
  [lintian]=lintian
  [pre-commit]=pre-commit
  # Real USB-stick and Windows file systems for the companion's corner tests
  # (the mkfs and mount helpers by path: /sbin is not on a normal user's PATH).
  [/sbin/mount.exfat-fuse]=exfat-fuse
  [/usr/sbin/mkfs.exfat]=exfatprogs
  [fusefat]=fusefat
  [/sbin/mkfs.vfat]=dosfstools
  [ntfs-3g]=ntfs-3g
)

# Runs a command as root: directly when we are root, else through sudo (which
# asks for the password), saying so first.
as_root() {
  if [[ $(id -u) -eq 0 ]]; then "$@"; return; fi
  command -v sudo >/dev/null 2>&1 ||
    die "installing needs root: run as root, or install sudo, or install by hand: $*"
  say "as root (sudo): $*"
  sudo "$@"
}

# Installs what is missing: `ensure_packages run` what starting the launcher
# needs, `ensure_packages` (or `test`) everything.
ensure_packages() {
  local what=${1:-test} missing=() key
  local -A needed=()
  for key in "${!RUN_NEEDED[@]}"; do needed[$key]=${RUN_NEEDED[$key]}; done
  if [[ $what == test ]]; then
    for key in "${!TEST_NEEDED[@]}"; do needed[$key]=${TEST_NEEDED[$key]}; done
  fi
  for key in "${!needed[@]}"; do
    if [[ $key == /* ]]; then [[ -e $key ]] && continue
    else command -v "$key" >/dev/null 2>&1 && continue; fi
    missing+=(${needed[$key]})
  done
  # The tests need Wine's 32-bit half too, for the 32-bit programs where the
  # host can run them; starting the launcher takes the 64-bit one.
  if [[ $what == test ]] && command -v wine >/dev/null 2>&1 && [[ ! -e /usr/lib/wine/wine ]] &&
     ! dpkg -s wine32:i386 >/dev/null 2>&1; then missing+=(wine32:i386 libwine:i386); fi
  [[ ${#missing[@]} -eq 0 ]] && return 0
  say "installing: ${missing[*]}"
  local release
  release=$(. /etc/os-release 2>/dev/null && echo "${VERSION_CODENAME:-}")
  [[ $release == bookworm ]] ||
    say "note: these scripts are made for Debian 12 (bookworm); this is '${release:-unknown}', where package names and paths may differ"
  if [[ $what == test ]] && ! dpkg --print-foreign-architectures | grep -qx i386; then
    as_root dpkg --add-architecture i386
  fi
  as_root env DEBIAN_FRONTEND=noninteractive apt-get update -q || die "apt-get update failed"
  as_root env DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends "${missing[@]}" ||
    die "apt-get install failed"
  for key in "${!needed[@]}"; do
    if [[ $key == /* ]]; then [[ -e $key ]] || die "still missing after install: $key"
    else command -v "$key" >/dev/null 2>&1 || die "still missing after install: $key"; fi
  done
}

# ---- Wine in a private prefix, on a private X display with a small window manager.
export WINEDEBUG="${WINEDEBUG:--all}"
export WINEDLLOVERRIDES="${WINEDLLOVERRIDES:-mscoree,mshtml=}"
XVFB_PID=""

# The Wine loader for a Windows build (win64, the main download, or win32);
# false where this host cannot run it (many cannot execute 32-bit programs).
use_wine() {
  case $1 in
    win64) VELMO_WINE=/usr/lib/wine/wine64 WINESERVER=/usr/lib/wine/wineserver64 ;;
    win32) VELMO_WINE=/usr/lib/wine/wine WINESERVER=/usr/lib/wine/wineserver ;;
  esac
  "$VELMO_WINE" --version >/dev/null 2>&1 || return 1
  [[ -x $WINESERVER ]] || WINESERVER=wineserver
  WIN_PRESET=$1
  export VELMO_WINE WINESERVER WIN_PRESET
}

# The Windows build to run here: the 64-bit one, which is the main download.
pick_wine() {
  use_wine win64 || use_wine win32 || die "Wine does not run here"
}
TWM_PID=""

start_display() {
  if [[ -n "${DISPLAY:-}" && -z "${VELMO_OWN_DISPLAY:-}" ]] && xdpyinfo >/dev/null 2>&1; then return 0; fi
  local n
  for n in $(seq 71 99); do [[ -e /tmp/.X11-unix/X$n || -e /tmp/.X$n-lock ]] || break; done
  Xvfb ":$n" -screen 0 1920x1200x24 -nolisten tcp >/dev/null 2>&1 &
  XVFB_PID=$!
  export DISPLAY=":$n"
  for _ in $(seq 50); do [[ -e /tmp/.X11-unix/X$n ]] && break; sleep 0.1; done
  # Without a window manager Wine waits two seconds whenever a window is
  # destroyed. Plain twm lets the user place each new window by hand and holds
  # the display meanwhile, so it places them itself here.
  local twmrc="$BUILD/twmrc"
  mkdir -p "$BUILD"
  { cat /etc/X11/twm/system.twmrc; echo "RandomPlacement"; echo "UsePPosition \"on\""; echo "NoGrabServer"; echo "NoTitle"; } >"$twmrc"
  twm -f "$twmrc" >/dev/null 2>&1 &
  TWM_PID=$!
}

stop_display() {
  [[ -n $TWM_PID ]] && kill "$TWM_PID" 2>/dev/null || true
  [[ -n $XVFB_PID ]] && kill "$XVFB_PID" 2>/dev/null || true
  TWM_PID="" XVFB_PID=""
}

# Creates the prefix once and keeps a wineserver running until stop_wine.
start_wine() {
  export WINEPREFIX="$1"
  if [[ ! -f $WINEPREFIX/.velmo-ready ]]; then
    say "creating Wine prefix $WINEPREFIX"
    rm -rf "$WINEPREFIX"
    mkdir -p "$WINEPREFIX"
    # Without a display: on a virtual one the first set-up can hang in its
    # installer step, and it needs no window anyway.
    (unset DISPLAY; timeout 300 "$VELMO_WINE" wineboot --init >/dev/null 2>&1 &&
       timeout 120 "$WINESERVER" -w) || die "wineboot failed for $WINEPREFIX"
    touch "$WINEPREFIX/.velmo-ready"
    "$WINESERVER" -w
  fi
  "$WINESERVER" -p
  "$VELMO_WINE" cmd /c exit >/dev/null 2>&1 || die "Wine does not start programs"
}

stop_wine() {
  [[ -n ${WINEPREFIX:-} ]] && "${WINESERVER:-wineserver}" -k 2>/dev/null || true
}

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
  # The 32-bit programs under Wine's 32-bit half; where the kernel cannot run
  # 32-bit code itself, through qemu-i386 registered with binfmt_misc
  # (enable_32bit below).
  [/usr/lib/wine/wine]="wine32:i386 libwine:i386"
  [/usr/bin/qemu-i386-static]=qemu-user-static
  [/usr/sbin/update-binfmts]=binfmt-support
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

# 32-bit programs on a 64-bit host. Many amd64 kernels run them themselves; one
# built without IA32 emulation (some virtual machines) runs them through
# qemu-i386, which the kernel calls for 32-bit x86 programs once it is
# registered with binfmt_misc. Debian's qemu-user-static registers every
# architecture but the host's own family, so on amd64 i386 stays out: this
# registers it (F: the kernel opens qemu-i386-static once, now, so it works in
# every mount namespace), mounting binfmt_misc first where the kernel offers it
# but nobody mounted it. It says what it does as root. False, after saying why,
# where 32-bit programs cannot run here.
BINFMT=/proc/sys/fs/binfmt_misc
QEMU_I386=/usr/bin/qemu-i386-static
# The ELF header of a 32-bit x86 program or library, and the bytes that count.
I386_MAGIC='\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00'
I386_MASK='\xff\xff\xff\xff\xff\xfe\xfe\x00\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff'

runs_32bit() { [[ -x /usr/lib/wine/wine ]] && /usr/lib/wine/wine --version >/dev/null 2>&1; }

enable_32bit() {
  runs_32bit && return 0
  [[ -x /usr/lib/wine/wine ]] || { say "32-bit programs: Wine's 32-bit half (wine32:i386) is not installed"; return 1; }
  [[ -x $QEMU_I386 ]] || { say "32-bit programs: this kernel does not run them and qemu-i386 is missing"; return 1; }
  if [[ ! -e $BINFMT/register ]]; then
    if ! grep -qw binfmt_misc /proc/filesystems 2>/dev/null && ! modprobe -n binfmt_misc 2>/dev/null; then
      say "32-bit programs: this kernel neither runs them nor offers binfmt_misc to hand them to qemu-i386"
      return 1
    fi
    say "32-bit programs: mounting binfmt_misc at $BINFMT, where the kernel hands them to qemu-i386"
    as_root mount -t binfmt_misc binfmt_misc "$BINFMT" || { say "32-bit programs: binfmt_misc could not be mounted"; return 1; }
  fi
  if [[ $(cat "$BINFMT/status" 2>/dev/null) != enabled ]]; then
    say "32-bit programs: binfmt_misc is switched off on this host ($BINFMT/status)"
    return 1
  fi
  if [[ -e $BINFMT/qemu-i386 ]]; then
    say "32-bit programs: qemu-i386 is registered with binfmt_misc but 32-bit Wine still does not start ($BINFMT/qemu-i386: $(head -1 "$BINFMT/qemu-i386"))"
    return 1
  fi
  say "32-bit programs: registering $QEMU_I386 with the kernel's binfmt_misc for 32-bit x86 programs (until the next boot)"
  printf ':qemu-i386:M::%s:%s:%s:F' "$I386_MAGIC" "$I386_MASK" "$QEMU_I386" |
    as_root tee "$BINFMT/register" >/dev/null || { say "32-bit programs: the registration was refused"; return 1; }
  runs_32bit && return 0
  say "32-bit programs: registered, but 32-bit Wine still does not start (/usr/lib/wine/wine --version)"
  return 1
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
# `start_wine PREFIX with32`: the prefix must have Wine's 32-bit half too
# (syswow64), which a prefix made while the host could not run 32-bit programs
# lacks; such a prefix is made again.
start_wine() {
  export WINEPREFIX="$1"
  if [[ ${2:-} == with32 && -f $WINEPREFIX/.velmo-ready &&
        -z $(ls -A "$WINEPREFIX/drive_c/windows/syswow64" 2>/dev/null) ]]; then
    say "the Wine prefix $WINEPREFIX was made without 32-bit support: making it again"
    rm -f "$WINEPREFIX/.velmo-ready"
  fi
  if [[ ! -f $WINEPREFIX/.velmo-ready ]]; then
    say "creating Wine prefix $WINEPREFIX"
    rm -rf "$WINEPREFIX"
    mkdir -p "$WINEPREFIX"
    # Without a display: on a virtual one the first set-up can hang in its
    # installer step, and it needs no window anyway.
    (unset DISPLAY; timeout 900 "$VELMO_WINE" wineboot --init >/dev/null 2>&1 &&
       timeout 900 "$WINESERVER" -w) || die "wineboot failed for $WINEPREFIX"
    touch "$WINEPREFIX/.velmo-ready"
    "$WINESERVER" -w
  fi
  "$WINESERVER" -p
  "$VELMO_WINE" cmd /c exit >/dev/null 2>&1 || die "Wine does not start programs"
}

stop_wine() {
  [[ -n ${WINEPREFIX:-} ]] && "${WINESERVER:-wineserver}" -k 2>/dev/null || true
}

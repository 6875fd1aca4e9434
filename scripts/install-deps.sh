#!/usr/bin/env bash
# Installs what building and testing zorPurge needs on a Debian 12 machine, as root. Idempotent:
# when everything is present it changes nothing and returns at once.
set -euo pipefail

packages=(cmake ninja-build g++ clang libclang-rt-14-dev googletest libgtest-dev
          libbenchmark-dev g++-mingw-w64-i686-posix g++-mingw-w64-i686-win32 binutils-mingw-w64-i686
          wine wine32:i386 wine64 xvfb x11-utils imagemagick qemu-user-static)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done

if [ ${#missing[@]} -gt 0 ]; then
  if [ "$(id -u)" -ne 0 ]; then
    echo "install-deps: missing packages (${missing[*]}); run as root to install them" >&2
    exit 1
  fi
  export DEBIAN_FRONTEND=noninteractive
  dpkg --print-foreign-architectures | grep -qx i386 || dpkg --add-architecture i386
  log=$(mktemp)
  echo "install-deps: installing ${missing[*]}"
  if ! { apt-get update -qq && apt-get install -y -qq --no-install-recommends "${missing[@]}"; } \
       >"$log" 2>&1 </dev/null; then
    tail -n 40 "$log" >&2
    exit 1
  fi
  rm -f "$log"
fi

# Wine runs our 32-bit programs through its 32-bit loader, an i386 Linux program. Some virtual
# machines run 64-bit user code only (execve of an i386 program fails with ENOEXEC); there the
# loader runs under qemu's user-mode emulator, registered for i386 programs with binfmt_misc.
if ! /lib/ld-linux.so.2 --help >/dev/null 2>&1; then
  binfmt=/proc/sys/fs/binfmt_misc
  [ -e "$binfmt/register" ] || mount -t binfmt_misc binfmt_misc "$binfmt"
  if [ ! -e "$binfmt/qemu-i386" ]; then
    printf '%s' ':qemu-i386:M::\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00:\xff\xff\xff\xff\xff\xfe\xfe\x00\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff:/usr/bin/qemu-i386-static:F' \
      >"$binfmt/register"
  fi
  /lib/ld-linux.so.2 --help >/dev/null 2>&1 || { echo "install-deps: cannot run i386 programs" >&2; exit 1; }
fi

#!/usr/bin/env bash
# Installs what the builds and tests need on a Debian machine (run as root). Quick when all is
# there already. Nothing is installed with its recommendations (qemu-system-x86's would bring a
# desktop).
set -euo pipefail
need=(cmake ninja-build ccache g++ libgtest-dev dosfstools mtools
      g++-mingw-w64-i686 mingw-w64-i686-dev binutils-mingw-w64-i686
      wine wine32:i386 wine64 xvfb imagemagick fonts-dejavu-core clang-format
      librsvg2-bin libxml2-utils nlohmann-json3-dev libsqlite3-dev python3-jsonschema bash-completion man-db groff-base
      clang libclang-rt-14-dev  # clang's libFuzzer and sanitizer runtimes come with the latter
      qemu-system-x86 busybox-static kmod cpio python3 sg3-utils)  # the kernel rig
missing=()
for p in "${need[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
    echo "installing: ${missing[*]}"
    dpkg --add-architecture i386
    apt-get update -qq
    DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi

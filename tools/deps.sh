#!/usr/bin/env bash
# Installs what Mirl needs to build and test, and builds raylib and GLFW from
# Debian's source packages into .deps/ (ignored by git). Safe to run again:
# every step is skipped when its result is already there.
set -euo pipefail
cd "$(dirname "$0")/.."
top=$PWD
prefix=$top/.deps/prefix
work=$top/.deps/work

pkgs=(build-essential cmake pkg-config git dpkg-dev
      libx11-dev libxrandr-dev libxinerama-dev libxcursor-dev libxi-dev
      libxkbcommon-dev libgl-dev libglvnd-dev libgl1-mesa-dri libasound2-dev
      libpulse-dev libportmidi-dev libsndfile1-dev zlib1g-dev
      libgtest-dev libgmock-dev libbenchmark-dev
      xvfb xdotool x11-utils pulseaudio pulseaudio-utils sox fonts-dejavu-core fonts-dejavu-extra)

missing=()
for p in "${pkgs[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'ok installed' || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "deps: installing ${missing[*]}"
  sudo_cmd=""; [ "$(id -u)" -ne 0 ] && sudo_cmd=sudo
  $sudo_cmd apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo_cmd apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi

have() { [ -f "$prefix/lib/$1" ]; }
if have libraylib.a && have libglfw3.a; then
  exit 0
fi

# The archive address comes from this machine's own apt sources.
uri=""
for f in /etc/apt/sources.list.d/*.sources; do
  [ -f "$f" ] || continue
  uri=$(awk '/^URIs:/ {print $2; exit}' "$f"); [ -n "$uri" ] && break
done
if [ -z "$uri" ] && [ -f /etc/apt/sources.list ]; then
  uri=$(awk '$1=="deb" && $0 !~ /security/ {for(i=2;i<=NF;i++) if ($i ~ /^[a-z]+:\/\//) {print $i; exit}}' /etc/apt/sources.list)
fi
[ -n "$uri" ] || { echo "deps: no Debian archive found in the apt sources" >&2; exit 1; }

mkdir -p "$work/apt/lists/partial" "$work/apt/cache/archives/partial" "$work/src" "$prefix"
cat > "$work/apt/sources.list" <<SRC
deb-src [trusted=yes] $uri trixie main
deb-src [trusted=yes] $uri forky main
SRC
aptopts=(-o Dir::Etc::SourceList="$work/apt/sources.list" -o Dir::Etc::SourceParts=/nonexistent
         -o Dir::State::Lists="$work/apt/lists" -o Dir::Cache="$work/apt/cache"
         -o Acquire::Languages=none -o APT::Sandbox::User=root)
apt-get "${aptopts[@]}" update -qq

# Versions of a source package in the private index, newest first.
srcvers() {
  apt-cache "${aptopts[@]}" showsrc "$1" 2>/dev/null | awk -v p="$1" '
    /^Package:/ {cur=$2} /^Version:/ && cur==p {print $2}' | sort -V -r -u
}
# Fetches and unpacks the newest version at or above MIN that the archive
# really serves (an index may name an upload the mirror does not have yet).
fetch() {  # fetch PKG MIN -> prints the unpacked folder
  local pkg=$1 min=$2 ver up tarball dir
  for ver in $(srcvers "$pkg"); do
    up=${ver#*:}; up=${up%-*}
    dpkg --compare-versions "${up%+ds}" ge "$min" || continue
    rm -f "$work/src/${pkg}_"*
    (cd "$work/src" && apt-get "${aptopts[@]}" source --download-only -qq "$pkg=$ver" >/dev/null 2>&1) || continue
    tarball=$(ls "$work/src/${pkg}_${up}".orig.tar.* 2>/dev/null | head -n 1)
    [ -n "$tarball" ] || continue
    dir="$work/src/$pkg-$up"
    rm -rf "$dir"; mkdir -p "$dir"
    tar -xf "$tarball" -C "$dir" --strip-components=1
    echo "deps: $pkg $ver" >&2
    echo "$dir"; return 0
  done
  echo "deps: no $pkg source of version $min or later could be fetched (index has: $(srcvers "$pkg" | tr '\n' ' '))" >&2
  return 1
}

if ! have libglfw3.a; then
  gdir=$(fetch glfw3 3.4)
  cmake -S "$gdir" -B "$work/glfw-build" -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX="$prefix" \
    -DBUILD_SHARED_LIBS=OFF -DCMAKE_POSITION_INDEPENDENT_CODE=ON -DGLFW_BUILD_WAYLAND=OFF -DGLFW_BUILD_X11=ON \
    -DGLFW_BUILD_EXAMPLES=OFF -DGLFW_BUILD_TESTS=OFF -DGLFW_BUILD_DOCS=OFF >/dev/null
  cmake --build "$work/glfw-build" -j"$(nproc)" >/dev/null
  cmake --install "$work/glfw-build" >/dev/null
fi

if ! have libraylib.a; then
  rdir=$(fetch raylib 5.0)
  # raylib's own build settings, defined on the compiler line (its config.h
  # keeps any value defined there): the program paces its frames and reads
  # input itself, and the audio device asks for 512-frame periods, which
  # PulseAudio serves with callbacks every 3 to 4 ms and 6 to 9 ms of stream
  # buffer (the default asks for 25 ms; 256 frames left gaps on a busy 2-core machine).
  raylib_defs="-DSUPPORT_CUSTOM_FRAME_CONTROL=1 -DAUDIO_DEVICE_PERIOD_SIZE_IN_FRAMES=512"
  cmake -S "$rdir" -B "$work/raylib-build" -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX="$prefix" \
    -DCMAKE_PREFIX_PATH="$prefix" -DBUILD_SHARED_LIBS=OFF -DCMAKE_POSITION_INDEPENDENT_CODE=ON \
    -DUSE_EXTERNAL_GLFW=ON -DBUILD_EXAMPLES=OFF -DOpenGL_GL_PREFERENCE=GLVND -DPLATFORM=Desktop \
    -DCMAKE_C_FLAGS="$raylib_defs" >/dev/null
  cmake --build "$work/raylib-build" -j"$(nproc)" >/dev/null
  cmake --install "$work/raylib-build" >/dev/null
fi
echo "deps: raylib and GLFW are in $prefix"

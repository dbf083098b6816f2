#!/usr/bin/env bash
# Installs what Mirl needs to build and test, and builds raylib and GLFW from
# Debian's source packages into .deps/ (ignored by git). Safe to run again:
# every step is skipped when its result is already there.
set -euo pipefail
cd "$(dirname "$0")/.."
top=$PWD
prefix=$top/.deps/prefix
work=$top/.deps/work

pkgs=(build-essential cmake pkg-config git dpkg-dev debian-archive-keyring
      libx11-dev libxrandr-dev libxinerama-dev libxcursor-dev libxi-dev
      libxkbcommon-dev libgl-dev libglvnd-dev libgl1-mesa-dri libasound2-dev
      libpulse-dev libportmidi-dev libsndfile1-dev zlib1g-dev
      libgtest-dev libgmock-dev libbenchmark-dev
      xvfb xdotool x11-utils pulseaudio pulseaudio-utils sox fonts-dejavu-core fonts-dejavu-extra
      libsmf-dev desktop-file-utils file
      lv2-dev liblilv-dev lilv-utils sordi libsamplerate0-dev libxdamage-dev)

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

# What each library must be, and how it is built. The record written beside
# the libraries holds this line and the version that was built; when the
# requirement here changes, the library is built again.
glfw_min=3.4
glfw_opts=(-DCMAKE_BUILD_TYPE=Release -DBUILD_SHARED_LIBS=OFF -DCMAKE_POSITION_INDEPENDENT_CODE=ON
           -DGLFW_BUILD_WAYLAND=OFF -DGLFW_BUILD_X11=ON -DGLFW_BUILD_EXAMPLES=OFF -DGLFW_BUILD_TESTS=OFF
           -DGLFW_BUILD_DOCS=OFF)
raylib_min=6.0
# Mirl paces its own frames and reads input itself (custom frame control), and
# the audio device asks for 768-frame periods, which PulseAudio serves with a
# callback every 4.4 ms and about 12 ms of stream buffer (the default asks for
# 25 ms). Smaller periods cost sound on a busy 2-core machine: 256 frames left
# gaps under a busy renderer, and 512 frames lost whole callbacks while the
# disk was writing hard, as it does after a build.
raylib_opts=(-DCMAKE_BUILD_TYPE=Release -DBUILD_SHARED_LIBS=OFF -DCMAKE_POSITION_INDEPENDENT_CODE=ON
             -DUSE_EXTERNAL_GLFW=ON -DBUILD_EXAMPLES=OFF -DOpenGL_GL_PREFERENCE=GLVND -DPLATFORM=Desktop
             "-DCMAKE_C_FLAGS=-DSUPPORT_CUSTOM_FRAME_CONTROL=1 -DAUDIO_DEVICE_PERIOD_SIZE_IN_FRAMES=768")
glfw_req="glfw3 >= $glfw_min; ${glfw_opts[*]}"
raylib_req="raylib >= $raylib_min; ${raylib_opts[*]}; on glfw3: $glfw_req"

record() { echo "$prefix/share/mirl-deps/$1.txt"; }
# A library is up to date when it is there and was built for today's requirement.
current() {  # current NAME LIBFILE REQUIREMENT
  [ -f "$prefix/lib/$2" ] && [ -f "$(record "$1")" ] && grep -qxF "requirement: $3" "$(record "$1")"
}
if current glfw3 libglfw3.a "$glfw_req" && current raylib libraylib.a "$raylib_req"; then
  exit 0
fi

# The archive address comes from this machine's own apt sources.
. "$top/tools/apt-archive.sh"
uri=$(debian_archive_uri) || { echo "deps: cannot fetch raylib and GLFW sources" >&2; exit 1; }

# The newer suites' indexes are checked against Debian's own archive keys,
# exactly as the machine's own sources are: a release file that does not
# verify stops the setup rather than letting unsigned sources through.
keyring=/usr/share/keyrings/debian-archive-keyring.gpg
[ -f "$keyring" ] || { echo "deps: $keyring is missing (package debian-archive-keyring)" >&2; exit 1; }
mkdir -p "$work/apt/lists/partial" "$work/apt/cache/archives/partial" "$work/src" "$prefix/share/mirl-deps"
cat > "$work/apt/sources.list" <<SRC
deb-src [signed-by=$keyring] $uri trixie main
deb-src [signed-by=$keyring] $uri forky main
SRC
aptopts=(-o Dir::Etc::SourceList="$work/apt/sources.list" -o Dir::Etc::SourceParts=/nonexistent
         -o Dir::State::Lists="$work/apt/lists" -o Dir::Cache="$work/apt/cache"
         -o Acquire::Languages=none -o APT::Sandbox::User=root)
if ! apt-get "${aptopts[@]}" update -qq --error-on=any 2>"$work/apt/update.log"; then
  cat "$work/apt/update.log" >&2
  echo "deps: the Debian source indexes for trixie and forky could not be fetched and verified" \
       "against $keyring; nothing was built" >&2
  exit 1
fi

# Versions of a source package in the private index, newest first.
srcvers() {
  apt-cache "${aptopts[@]}" showsrc "$1" 2>/dev/null | awk -v p="$1" '
    /^Package:/ {cur=$2} /^Version:/ && cur==p {print $2}' | sort -V -r -u
}
# Fetches and unpacks the newest version at or above MIN that the archive
# really serves (an index may name an upload the mirror does not have yet).
# apt-get source checks the files against the verified index's checksums.
fetch() {  # fetch PKG MIN -> prints the unpacked folder; sets fetched=VERSION
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
    echo "$ver" > "$work/src/$pkg.version"
    echo "$dir"; return 0
  done
  echo "deps: no $pkg source of version $min or later could be fetched (index has: $(srcvers "$pkg" | tr '\n' ' '))" >&2
  return 1
}
# build NAME LIBFILE REQUIREMENT MIN cmake-options...
build() {
  local name=$1 lib=$2 req=$3 min=$4 dir; shift 4
  rm -f "$(record "$name")" "$prefix/lib/$lib"
  dir=$(fetch "$name" "$min")
  cmake -S "$dir" -B "$work/$name-build" --fresh -DCMAKE_INSTALL_PREFIX="$prefix" -DCMAKE_PREFIX_PATH="$prefix" \
    "$@" >/dev/null
  cmake --build "$work/$name-build" -j"$(nproc)" >/dev/null
  cmake --install "$work/$name-build" >/dev/null
  printf 'source package: %s %s\nrequirement: %s\nbuilt: %s\n' "$name" "$(cat "$work/src/$name.version")" \
    "$req" "$(date -u +%Y-%m-%dT%H:%M:%SZ)" > "$(record "$name")"
}

new_glfw=0
if ! current glfw3 libglfw3.a "$glfw_req"; then
  build glfw3 libglfw3.a "$glfw_req" "$glfw_min" "${glfw_opts[@]}"
  new_glfw=1
fi
# raylib is built against this GLFW's headers, so a new GLFW means a new raylib too.
if [ "$new_glfw" = 1 ] || ! current raylib libraylib.a "$raylib_req"; then
  build raylib libraylib.a "$raylib_req" "$raylib_min" "${raylib_opts[@]}"
fi
echo "deps: raylib and GLFW are in $prefix ($(record raylib) says how they were built)"

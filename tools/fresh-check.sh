#!/usr/bin/env bash
# Runs the README's test command as a newcomer would: in a new, minimal
# Debian 12 root and then a new Debian 13 root made with mmdebstrap, from a fresh clone of the commit checked
# out here (uncommitted changes stay behind), with nothing installed but what
# the project's own scripts install. Prints the test command's closing lines
# and exits with its status. After a passing test run, the Debian package that
# run built is installed, started and removed on a second new root
# (tools/package-check.sh), where nothing but its own dependencies is.
#   tools/fresh-check.sh [COMMAND]   (default: ./tools/test.sh; needs root)
# KEEP_ROOT=1 leaves the root in place for a look afterwards.
set -euo pipefail
cd "$(dirname "$0")/.."
repo=$PWD
command=${1:-./tools/test.sh}
[ "$(id -u)" -eq 0 ] || { echo "fresh-check: needs root (mmdebstrap, chroot and bind mounts)" >&2; exit 1; }
if ! command -v mmdebstrap >/dev/null; then
  apt-get update -qq
  DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends mmdebstrap >/dev/null
fi
. tools/apt-archive.sh
uri=$(debian_archive_uri)

# make_root DIR SUITE: a minimal Debian root of that release with this
# machine's apt set-up, so it reaches the archive the same way.
make_root() {
  mmdebstrap --quiet --variant=apt --include=ca-certificates,git "$2" "$1" \
    "deb $uri $2 main" "deb $uri $2-updates main" >>"$log" 2>&1 \
    || { cat "$log" >&2; echo "fresh-check: mmdebstrap failed" >&2; exit 1; }
  # The machine's own sources name its own release: a root of that release
  # takes them, a root of another keeps the sources mmdebstrap wrote for it.
  if grep -qs "^VERSION_CODENAME=$2\$" /etc/os-release; then
    rm -f "$1/etc/apt/sources.list"
    cp -a /etc/apt/sources.list* "$1/etc/apt/" 2>/dev/null || true
  fi
  cp -a /etc/apt/apt.conf.d/. "$1/etc/apt/apt.conf.d/"
  cp -L /etc/resolv.conf "$1/etc/resolv.conf"
}

check_suite() {  # check_suite SUITE RELEASE: sets status
local suite=$1 release=$2
root=$(mktemp -d /var/tmp/mirl-fresh.XXXXXX)
pkgroot=$root-package
log=$root.log
cleanup() { [ "${KEEP_ROOT:-0}" = 1 ] || rm -rf --one-file-system "$root" "$pkgroot"; return 0; }
start=$(date +%s)
echo "fresh-check: making a Debian $release ($suite) root in $root"
make_root "$root" "$suite"
git clone -q --no-local "$repo" "$root/root/mirl"
git -C "$root/root/mirl" checkout -q "$(git rev-parse HEAD)"
echo "fresh-check: $(git -C "$root/root/mirl" log -1 --format='%h %s'), running $command"

# in_root ROOT COMMAND: runs COMMAND in the root with /proc, /sys and /dev
# bound; the mounts live in a private mount namespace and vanish with it.
in_root() {
  unshare --mount --propagation private bash -c '
    r=$1; shift
    for d in proc sys dev; do mount --rbind "/$d" "$r/$d"; done
    exec chroot "$r" /usr/bin/env -i HOME=/root TERM=dumb LANG=C.UTF-8 \
      PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin \
      bash -c "cd /root/mirl && $*"' _ "$@"
}
set +e
in_root "$root" "$command" >>"$log" 2>&1
status=$?
set -e
echo "fresh-check: full log in $log"
# A failing run shows its failures' own lines first: the log stays on this machine.
if [ "$status" -ne 0 ]; then
  grep -E -A6 ': Failure$|^[[:space:]]*[0-9]+ - .*\((Failed|Timeout|SEGFAULT|Exception)' "$log" | tail -n 40 || true
fi
tail -n 5 "$log"
echo "fresh-check: $command exited $status after $(( $(date +%s) - start )) s"

# The package that tree builds, on a second new root that has nothing else.
if [ "$status" -eq 0 ] && [ "$command" = ./tools/test.sh ]; then
  set +e
  in_root "$root" "cpack -G DEB --config build/CPackConfig.cmake -B /root/package >/dev/null" >>"$log" 2>&1
  deb=$(ls "$root"/root/package/mirl_*.deb 2>/dev/null | head -n 1)
  if [ -n "$deb" ]; then
    make_root "$pkgroot" "$suite"
    ./tools/package-check.sh "$pkgroot" "$deb" 2>&1 | tee -a "$log" | tail -n 3
    status=${PIPESTATUS[0]}
  else
    echo "fresh-check: no package was built" | tee -a "$log"
    status=1
  fi
  set -e
fi
echo "fresh-check: Debian $release: exit $status after $(( $(date +%s) - start )) s"
}

trap 'cleanup 2>/dev/null || true' EXIT
overall=0
for suite in ${SUITES:-bookworm trixie}; do
  case $suite in bookworm) release=12 ;; trixie) release=13 ;; *) release=$suite ;; esac
  check_suite "$suite" "$release"
  cleanup
  [ "$status" -eq 0 ] || overall=1
done
echo "fresh-check: exit $overall"
exit $overall

#!/usr/bin/env bash
# Runs the README's test command as a newcomer would: in a new, minimal
# Debian 12 root made with mmdebstrap, from a fresh clone of the commit checked
# out here (uncommitted changes stay behind), with nothing installed but what
# the project's own scripts install. Prints the test command's closing lines
# and exits with its status.
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

root=$(mktemp -d /var/tmp/mirl-fresh.XXXXXX)
log=$root.log
cleanup() { [ "${KEEP_ROOT:-0}" = 1 ] || rm -rf --one-file-system "$root"; }
trap cleanup EXIT
start=$(date +%s)
echo "fresh-check: making a Debian 12 root in $root"
mmdebstrap --quiet --variant=apt --include=ca-certificates,git bookworm "$root" \
  "deb $uri bookworm main" "deb $uri bookworm-updates main" >"$log" 2>&1 \
  || { cat "$log" >&2; echo "fresh-check: mmdebstrap failed" >&2; exit 1; }
# The machine's own apt set-up, so the root reaches the archive the same way.
rm -f "$root/etc/apt/sources.list"
cp -a /etc/apt/sources.list* "$root/etc/apt/" 2>/dev/null || true
cp -a /etc/apt/apt.conf.d/. "$root/etc/apt/apt.conf.d/"
cp -L /etc/resolv.conf "$root/etc/resolv.conf"
git clone -q --no-local "$repo" "$root/root/mirl"
git -C "$root/root/mirl" checkout -q "$(git rev-parse HEAD)"
echo "fresh-check: $(git -C "$root/root/mirl" log -1 --format='%h %s'), running $command"

# The mounts live in a private mount namespace and vanish with it.
set +e
unshare --mount --propagation private bash -c '
  r=$1; shift
  for d in proc sys dev; do mount --rbind "/$d" "$r/$d"; done
  exec chroot "$r" /usr/bin/env -i HOME=/root TERM=dumb LANG=C.UTF-8 \
    PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin \
    bash -c "cd /root/mirl && $*"' _ "$root" "$command" >>"$log" 2>&1
status=$?
set -e
echo "fresh-check: full log in $log"
tail -n 5 "$log"
echo "fresh-check: exit $status after $(( $(date +%s) - start )) s"
exit $status

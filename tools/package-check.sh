#!/usr/bin/env bash
# tools/package-check.sh ROOT DEB
#
# Checks the Debian package on a fresh Debian 12 root (made by mmdebstrap, with
# the machine's /etc/apt/apt.conf.d/ and /etc/resolv.conf copied in): installs
# DEB with apt-get, starts mirl from /tmp and waits for its window, then
# removes the package and checks that none of its files, nor anything else of
# its name, is left. Nothing else is installed in the root: the
# X server runs out here (Xvfb, from tools/deps.sh) and the program inside
# reaches it through its abstract socket, so the package's own dependencies
# must bring everything the program needs. Runs as root; the mounts it makes
# live only as long as the check. Exit status 0 when all of that holds.
set -euo pipefail
[ $# -eq 2 ] || { echo "usage: $0 ROOT DEB" >&2; exit 2; }
root=$(realpath "$1")
deb=$(realpath "$2")
[ -x "$root/usr/bin/apt-get" ] || { echo "package-check: $root is no Debian root" >&2; exit 2; }
name=$(basename "$deb")
cp "$deb" "$root/tmp/$name"
rm -f "$root/tmp/window-seen"

display=71
while [ -e "/tmp/.X$display-lock" ]; do display=$((display + 1)); done
Xvfb ":$display" -screen 0 1280x1024x24 -nolisten tcp >/dev/null 2>&1 &
xvfb=$!
watcher=""
cleanup() {
  [ -n "$watcher" ] && kill "$watcher" 2>/dev/null || true
  kill "$xvfb" 2>/dev/null || true
  rm -f "$root/tmp/$name" "$root/tmp/window-seen"
}
trap cleanup EXIT
for _ in $(seq 60); do xwininfo -display ":$display" -root >/dev/null 2>&1 && break; sleep 0.5; done

# Out here: watch for the real window (not the 100 x 100 probe Mirl opens first
# to read the screen size) and tell the check inside when it is there.
(
  while :; do
    shown=$(xwininfo -display ":$display" -root -tree 2>/dev/null |
            awk '/"Mirl":/ {split($0, a, ")"); split(a[2], s, "x"); if (s[1] + 0 >= 300) print}')
    if [ -n "$shown" ]; then echo "$shown" > "$root/tmp/window-seen"; break; fi
    sleep 0.5
  done
) &
watcher=$!

# In the root: the check itself.
inside=$(cat <<'CHECK'
set -euo pipefail
deb=/tmp/$1 display=$2
export DEBIAN_FRONTEND=noninteractive
apt-get update -qq
# A root a failed check left dirty starts clean.
if dpkg-query -W mirl >/dev/null 2>&1; then apt-get remove -y -qq mirl >/dev/null; fi
apt-get autoremove -y -qq >/dev/null
# Every path outside the places apt and dpkg keep their own books.
snapshot() {
  find / -xdev \( -path /proc -o -path /sys -o -path /dev -o -path /tmp -o -path /run -o -path /root \
    -o -path /var/cache -o -path /var/lib/apt -o -path /var/lib/dpkg -o -path /var/log \) -prune -o -print | sort
}
apt-get install -y -qq "$deb" >/dev/null
dpkg -L mirl > /tmp/files.txt

cd /tmp
DISPLAY=":$display" mirl >/tmp/mirl.log 2>&1 &
mirl=$!
for _ in $(seq 120); do
  [ -e /tmp/window-seen ] && break
  kill -0 "$mirl" 2>/dev/null || break
  sleep 0.5
done
kill "$mirl" 2>/dev/null || true
wait "$mirl" 2>/dev/null || true
if [ ! -e /tmp/window-seen ]; then
  echo "package-check: mirl showed no window; it said:" >&2
  cat /tmp/mirl.log >&2
  apt-get remove -y -qq mirl >/dev/null
  exit 1
fi
echo "package-check: window $(cat /tmp/window-seen)"

apt-get remove -y -qq mirl >/dev/null
status=$(dpkg-query -W -f='${Status}' mirl 2>/dev/null || true)
case "$status" in ""|*not-installed*) ;; *) echo "package-check: after remove: $status" >&2; exit 1 ;; esac
left=$(while read -r f; do if [ -f "$f" ]; then echo "$f"; fi; done < /tmp/files.txt)
[ -z "$left" ] || { echo "package-check: left behind:" >&2; echo "$left" >&2; exit 1; }
# Nor anything else of its name: no state, cache or menu entry made on the side.
left=$(snapshot | grep -i mirl || true)
[ -z "$left" ] || { echo "package-check: left behind:" >&2; echo "$left" >&2; exit 1; }
echo "package-check: installed, started from /tmp, removed without a trace"
CHECK
)

status=0
unshare --mount --propagation private bash -c '
  set -e
  root=$1; shift
  mount --bind /proc "$root/proc"
  mount --bind /sys "$root/sys"
  mount --rbind /dev "$root/dev"
  chroot "$root" /bin/bash -c "$@"
' check "$root" "$inside" check "$name" "$display" || status=$?
exit $status

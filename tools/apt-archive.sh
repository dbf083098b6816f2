# Sourced by the setup scripts: where this machine's apt finds Debian's archive.
# The address is read from the machine's own apt sources, never written down here.
debian_archive_uri() {
  local f uri=""
  for f in /etc/apt/sources.list.d/*.sources; do
    [ -f "$f" ] || continue
    uri=$(awk '/^URIs:/ && $2 !~ /security/ {print $2; exit}' "$f"); [ -n "$uri" ] && break
  done
  if [ -z "$uri" ] && [ -f /etc/apt/sources.list ]; then
    uri=$(awk '$1=="deb" && $0 !~ /security/ {for(i=2;i<=NF;i++) if ($i ~ /^[a-z]+:\/\//) {print $i; exit}}' \
      /etc/apt/sources.list)
  fi
  [ -n "$uri" ] || { echo "no Debian archive found in the apt sources" >&2; return 1; }
  echo "$uri"
}

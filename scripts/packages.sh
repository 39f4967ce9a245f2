# Sourced by the scripts: ensure_packages PKG... installs the Debian packages
# that are missing, as root or through sudo, without asking anything else.
# Without either it names the command to run as root and stops, naming the
# script to run again (TORVEX_SCRIPT, else the one running). apt-get's output
# goes to a log, shown in full only when the install fails.
ensure_packages() {
  local missing=() p
  for p in "$@"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
  done
  [ ${#missing[@]} -gt 0 ] || return 0
  local sudo=()
  if [ "$(id -u)" -ne 0 ]; then
    if ! command -v sudo >/dev/null 2>&1 || ! sudo -v; then
      echo "Missing Debian packages: ${missing[*]}. As root (su -), run:" >&2
      echo "    apt-get update && apt-get install -y --no-install-recommends ${missing[*]}" >&2
      echo "then run ${TORVEX_SCRIPT:-$0} again." >&2
      exit 1
    fi
    sudo=(sudo)
  fi
  local log=${TORVEX_PACKAGE_LOG:-build/packages.log}
  mkdir -p "$(dirname "$log")"
  echo "Installing ${missing[*]} (apt-get output in $log)"
  if ! { "${sudo[@]}" env DEBIAN_FRONTEND=noninteractive apt-get update &&
         "${sudo[@]}" env DEBIAN_FRONTEND=noninteractive \
           apt-get install -y --no-install-recommends "${missing[@]}"; } </dev/null >"$log" 2>&1; then
    cat "$log" >&2
    echo "Installing ${missing[*]} failed; the output above is also in $log." >&2
    exit 1
  fi
}

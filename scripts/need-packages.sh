#!/usr/bin/env bash
# Makes sure the named Debian packages are installed: missing ones are
# installed with apt-get when running as root (as CI does); otherwise the
# missing ones are named and the script fails, so a caller can say what the
# user has to install instead of passing silently.
#   scripts/need-packages.sh python3-astropy fitsverify
set -uo pipefail

missing=()
for pkg in "$@"; do
    if ! dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q "install ok installed"; then
        missing+=("$pkg")
    fi
done
[ ${#missing[@]} -eq 0 ] && exit 0

if [ "$(id -u)" = 0 ] && command -v apt-get >/dev/null; then
    echo "installing: ${missing[*]}"
    export DEBIAN_FRONTEND=noninteractive
    log=$(mktemp /tmp/need-packages.XXXXXX.log)
    # Another install running at the same time holds the package lock: wait for it.
    apt=(apt-get -q -o DPkg::Lock::Timeout=600)
    if "${apt[@]}" install -y --no-install-recommends "${missing[@]}" >"$log" 2>&1 ||
       { "${apt[@]}" update >>"$log" 2>&1 &&
         "${apt[@]}" install -y --no-install-recommends "${missing[@]}" >>"$log" 2>&1; }; then
        rm -f "$log"
        exit 0
    fi
    echo "error: could not install ${missing[*]} (see $log)"
    exit 1
fi
echo "missing Debian packages: ${missing[*]} (install with: sudo apt-get install ${missing[*]})"
exit 1

#!/usr/bin/env bash
# Builds the Debian package (veldrane_VERSION_ARCH.deb) in DIR (default:
# build-package/) with CPack and shows its control data and contents.
#
#   scripts/package.sh [DIR]
#   apt install ./build-package/veldrane_*.deb
#
# The package installs under /usr; its dependencies are computed from the
# binaries by dpkg-shlibdeps.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
dir=${1:-$root/build-package}

"$root/scripts/deps.sh"
# Only what the package holds is built, and the install step is told not to
# build everything else first.
VELDRANE_TARGETS="veldrane veldrane-send veldrane-man-pages" "$root/scripts/build.sh" "$dir" \
    -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX=/usr -DCMAKE_SKIP_INSTALL_ALL_DEPENDENCY=ON

rm -f "$dir"/veldrane_*.deb
log=$(mktemp /tmp/veldrane-package.XXXXXX)
trap 'rm -f "$log"' EXIT
if ! (cd "$dir" && cpack -G DEB) >"$log" 2>&1; then
    cat "$log"
    echo "package.sh: cpack failed" >&2
    exit 1
fi
deb=$(ls "$dir"/veldrane_*.deb)
dpkg-deb --field "$deb"
dpkg-deb --contents "$deb"
echo "Built $deb"

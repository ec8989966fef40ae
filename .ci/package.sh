#!/usr/bin/env bash
# Builds the Debian package, installs it on this machine with apt-get, makes an
# installation root and answers one match from the installed files only,
# builds the consumer project against the installed CMake package, and
# removes the package again.
set -euo pipefail
cd "$(dirname "$0")/.."
# Warnings fail the development builds (default, asan, tsan); the optimised
# package build only reports them: GCC 12 gives false alarms at -O3.
cmake --preset package -DQUOR_WERROR=OFF
cmake --build --preset package
(cd build-package && cpack -G DEB)
deb=$(ls build-package/quorpolicy_*_amd64.deb)
echo "package: $deb"
dpkg-deb --info "$deb" | sed -n '/Depends/p'

work=$(mktemp -d)
cleanup() {
  DEBIAN_FRONTEND=noninteractive apt-get remove -y -qq quorpolicy >/dev/null 2>&1 || true
  rm -rf "$work"
}
trap cleanup EXIT
DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "./$deb"

# From the installed files only: no build tree, no source tree on the way.
(
  cd "$work"
  /usr/bin/quorpolicy init "$work/root"
  QUOR_HOME="$work/root" /usr/bin/quorpolicy admin entities | head -3
  /usr/bin/quorpolicy match --list /usr/share/doc/quorpolicy/examples/company-white.list \
    --list /usr/share/doc/quorpolicy/examples/black.list news@spam.example offers@shop.example
  test -f /lib/systemd/system/quorpolicy.service || test -f /usr/lib/systemd/system/quorpolicy.service
  cmake -S "$OLDPWD/tests/install" -B "$work/consumer" >/dev/null
  cmake --build "$work/consumer" >/dev/null
  "$work/consumer/consumer"
)
DEBIAN_FRONTEND=noninteractive apt-get remove -y -qq quorpolicy
if command -v quorpolicy >/dev/null; then
  echo "quorpolicy is still installed after removal" >&2
  exit 1
fi
echo "package installed, used and removed"

#!/bin/sh
# Installs the Debian packages the build and the tests need, only those missing,
# so that `make test` and `make demo` work on a fresh machine. None of them is
# 32-bit: a broken i386 index (dpkg may have i386 from make test-win32) stops
# nothing here as long as apt can still install them.
set -e
PACKAGES="cmake make g++ python3 g++-mingw-w64-i686 g++-mingw-w64-x86-64 wine64 googletest
xvfb xdotool imagemagick osslsigncode openssl libssl-dev python3-jsonschema clang libclang-rt-14-dev
softhsm2 libengine-pkcs11-openssl opensc"
missing=""
for p in $PACKAGES; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing="$missing $p"
done
[ -z "$missing" ] && exit 0
echo "installing:$missing"
if [ "$(id -u)" != 0 ]; then SUDO=sudo; else SUDO=; fi
. "$(dirname "$0")/apt.sh"
apt_update
apt_installable $missing && apt_install $missing || { echo "FAIL: cannot install$missing: $apt_reason" >&2; exit 1; }

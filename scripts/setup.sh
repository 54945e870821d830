#!/bin/sh
# Installs, as root on Debian 12, every package that building, testing,
# fuzzing, benchmarking and the demo need, and builds the printer
# application's PAPPL (see below). What is already there is skipped, so a
# prepared machine does no network work at all.
set -eu

ROOT=$(cd "$(dirname "$0")/.." && pwd)

PACKAGES="
g++ cmake make pkg-config
libcups2-dev libcupsimage2-dev zlib1g-dev libpng-dev libjpeg-dev
libpoppler-cpp-dev libfreetype-dev libfontconfig-dev
libgtest-dev libbenchmark-dev
clang libclang-rt-14-dev
cups cups-daemon cups-client cups-filters cups-ppdc cups-ipp-utils
libpappl-dev libsystemd-dev chromium
dbus python3-dbusmock iproute2
libavahi-client-dev libgnutls28-dev libjpeg-dev libpam0g-dev libusb-1.0-0-dev
ghostscript poppler-utils python3 zbar-tools
dpkg-dev lintian
fonts-dejavu-core
"

missing=""
for p in $PACKAGES; do
    if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
        missing="$missing $p"
    fi
done

if [ -n "$missing" ]; then
    if [ "$(id -u)" -ne 0 ]; then
        echo "setup: missing packages:$missing (run as root to install them)" >&2
        exit 1
    fi
    echo "setup: installing$missing"
    export DEBIAN_FRONTEND=noninteractive
    apt-get update -qq
    # shellcheck disable=SC2086
    apt-get install -y -qq --no-install-recommends $missing >/dev/null
else
    echo "setup: all packages present"
fi

# The printer application links a PAPPL of its own: Debian 12's 1.3.1 built
# from Debian's source package with the fixes in scripts/pappl/ (a pending
# job started twice by concurrent clients; a lock-order hang between a
# refused client and the state being saved), static, in PAPPL_PREFIX. It
# is built again when the fixes change.
PAPPL_PREFIX=/usr/local/lib/bandrill-pappl
PAPPL_VERSION=1.3.1
fixes=$(cat "$ROOT"/scripts/pappl/*.patch | sha256sum | cut -d' ' -f1)
if [ "$(cat "$PAPPL_PREFIX/fixes.sha256" 2>/dev/null)" = "$fixes" ]; then
    echo "setup: PAPPL $PAPPL_VERSION with the fixes present"
    exit 0
fi
if [ "$(id -u)" -ne 0 ]; then
    echo "setup: PAPPL $PAPPL_VERSION with the fixes of scripts/pappl is not built in $PAPPL_PREFIX (run as root to build it)" >&2
    exit 1
fi
echo "setup: building PAPPL $PAPPL_VERSION with the fixes of scripts/pappl into $PAPPL_PREFIX"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
chmod 755 "$work"   # apt's download user writes here
cd "$work"
fetch() {
    apt-get source --download-only "pappl=$PAPPL_VERSION-2" >fetch.log 2>&1
}
if ! fetch && ! [ -f pappl_$PAPPL_VERSION.orig.tar.gz ]; then
    # No source lines: Debian's own archive for the source package only.
    cat >/etc/apt/sources.list.d/bandrill-pappl-source.sources <<SOURCES
Types: deb-src
URIs: http://deb.debian.org/debian
Suites: bookworm
Components: main
Signed-By: /usr/share/keyrings/debian-archive-keyring.gpg
SOURCES
    apt-get update -qq
    fetch || true
fi
dsc=pappl_$PAPPL_VERSION-2.dsc
orig=pappl_$PAPPL_VERSION.orig.tar.gz
if ! [ -f "$dsc" ] || ! [ -f "$orig" ]; then
    cat fetch.log >&2
    echo "setup: could not fetch Debian's source package of PAPPL $PAPPL_VERSION" >&2
    exit 1
fi
if [ -f pappl_$PAPPL_VERSION-2.debian.tar.xz ]; then
    dpkg-source -x "$dsc" src >/dev/null
else
    # Some mirrors lack the Debian part: the upstream tarball, checked
    # against the source package's checksum, is what it patches.
    sum=$(sed -n "/^Checksums-Sha256:/,/^[^ ]/s/^ \([0-9a-f]*\) [0-9]* $orig\$/\1/p" "$dsc")
    if [ -z "$sum" ] || [ "$(sha256sum "$orig" | cut -d' ' -f1)" != "$sum" ]; then
        echo "setup: $orig does not match $dsc" >&2
        exit 1
    fi
    echo "setup: Debian's changes to PAPPL unavailable from this mirror; building the upstream source it packages"
    mkdir src
    tar xzf "$orig" -C src --strip-components=1
fi
cd src
for patch in "$ROOT"/scripts/pappl/*.patch; do
    patch -p1 -s <"$patch"
done
./configure --prefix="$PAPPL_PREFIX" --disable-shared --localstatedir=/var --sysconfdir=/etc \
    --with-tls=gnutls --with-dnssd=avahi >configure.log 2>&1 || { tail -30 configure.log >&2; exit 1; }
make -C pappl -j "$(nproc)" >build.log 2>&1 || { tail -30 build.log >&2; exit 1; }
rm -rf "$PAPPL_PREFIX"
make -C pappl install >install.log 2>&1 || { tail -30 install.log >&2; exit 1; }
echo "$fixes" >"$PAPPL_PREFIX/fixes.sha256"
echo "setup: PAPPL $PAPPL_VERSION with the fixes built"

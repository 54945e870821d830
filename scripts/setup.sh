#!/bin/sh
# Installs, as root on Debian 12, every package that building, testing,
# fuzzing, benchmarking and the demo need. Packages already present are
# skipped, so a prepared machine does no network work at all.
set -eu

PACKAGES="
g++ cmake make pkg-config
libcups2-dev libcupsimage2-dev zlib1g-dev libpng-dev
libgtest-dev libbenchmark-dev
clang libclang-rt-14-dev
cups cups-daemon cups-client cups-filters cups-ppdc cups-ipp-utils
libpappl-dev libavahi-client-dev chromium iproute2
ghostscript poppler-utils python3
dpkg-dev lintian
fonts-dejavu-core
"

missing=""
for p in $PACKAGES; do
    if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
        missing="$missing $p"
    fi
done

if [ -z "$missing" ]; then
    echo "setup: all packages present"
    exit 0
fi

if [ "$(id -u)" -ne 0 ]; then
    echo "setup: missing packages:$missing (run as root to install them)" >&2
    exit 1
fi

echo "setup: installing$missing"
export DEBIAN_FRONTEND=noninteractive
apt-get update -qq
# shellcheck disable=SC2086
apt-get install -y -qq --no-install-recommends $missing >/dev/null
echo "setup: done"

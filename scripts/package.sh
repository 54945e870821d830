#!/bin/sh
# Builds the Debian packages of a release build into dist/:
#
#   bandrill_VERSION_ARCH.deb              the filter, the PPDs, bandrill-decode,
#                                          manual pages, README
#   bandrill-printer-app_VERSION_ARCH.deb  the printer application, its systemd
#                                          unit and manual page (only when the
#                                          build has the program: PAPPL found)
#
# Each package holds one CMake install component (bandrill, printer-app),
# installed into a staging tree with prefix /usr. The version is the CMake
# project's; the dependencies come from the binaries (dpkg-shlibdeps); the
# changelog is made from CHANGES.md (packaging/changelog.sh), its top entry
# dated by the last commit.
#
# usage: sh scripts/package.sh [--out DIR] [--build DIR]
#   --out DIR    where the .deb files go (default dist/)
#   --build DIR  the build tree (default build/package)
#   DEBFULLNAME, DEBEMAIL  the Maintainer field, as for other Debian tools
set -eu

ROOT=$(cd "$(dirname "$0")/.." && pwd)
OUT="$ROOT/dist"
BUILD="$ROOT/build/package"
while [ $# -gt 0 ]; do
    case $1 in
        --out) OUT=$2; shift 2 ;;
        --build) BUILD=$2; shift 2 ;;
        *) echo "usage: sh scripts/package.sh [--out DIR] [--build DIR]" >&2; exit 2 ;;
    esac
done
cd "$ROOT"
mkdir -p "$OUT" "$BUILD"
OUT=$(cd "$OUT" && pwd)
BUILD=$(cd "$BUILD" && pwd)
PKG="$ROOT/packaging"
JOBS=${JOBS:-$(nproc)}
MAINTAINER="${DEBFULLNAME:-bandrill developers} <${DEBEMAIL:-bandrill@example.org}>"
umask 022

for tool in cmake dpkg-deb dpkg-shlibdeps dpkg-buildflags dpkg-parsechangelog strip gzip; do
    if ! command -v "$tool" >/dev/null 2>&1; then
        echo "package: $tool not found (scripts/setup.sh installs it)" >&2
        exit 1
    fi
done

# Debian's compiler and linker flags (hardening included) for a release
# build without the tests and benchmarks.
eval "$(DEB_BUILD_MAINT_OPTIONS=hardening=+all dpkg-buildflags --export=sh)"
echo "== package: configure $BUILD"
cmake -S "$ROOT" -B "$BUILD" -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX=/usr \
    -DBANDRILL_TESTS=OFF -DBANDRILL_BENCH=OFF -DBANDRILL_FUZZ=OFF -DBANDRILL_SANITIZE=OFF \
    -DBANDRILL_WERROR=OFF \
    "-DCMAKE_C_FLAGS=$CFLAGS $CPPFLAGS" "-DCMAKE_CXX_FLAGS=$CXXFLAGS $CPPFLAGS" \
    "-DCMAKE_EXE_LINKER_FLAGS=$LDFLAGS" "-DCMAKE_SHARED_LINKER_FLAGS=$LDFLAGS" >"$BUILD/configure.log"

info() {
    sed -n "s/^$1=//p" "$BUILD/package-info.txt"
}
VERSION=$(info version)
ARCH=$(dpkg --print-architecture)

# The date of the release: the last commit's, so that a rebuild of the same
# tree makes the same packages.
if [ -z "${SOURCE_DATE_EPOCH:-}" ]; then
    SOURCE_DATE_EPOCH=$(git -C "$ROOT" log -1 --format=%ct 2>/dev/null || date +%s)
fi
export SOURCE_DATE_EPOCH
RELEASE_DATE=$(LC_ALL=C date -u -R -d "@$SOURCE_DATE_EPOCH")

# The changelog from CHANGES.md, checked before the build: a CHANGES.md
# that does not fit the version stops here.
changelog() {
    sh "$PKG/changelog.sh" "$ROOT/CHANGES.md" "$1" "$VERSION" "$MAINTAINER" "$RELEASE_DATE" \
        >"$BUILD/changelog-$1"
    if ! dpkg-parsechangelog -l "$BUILD/changelog-$1" >/dev/null; then
        echo "package: the changelog made from CHANGES.md is not a valid Debian changelog" >&2
        exit 1
    fi
}
changelog bandrill

targets="bandrill bandrill-ppds bandrill-driver bandrill-decode"
packages="bandrill:bandrill"
if [ "$(info printer_app)" = 1 ]; then
    targets="$targets bandrill-printer-app"
    packages="$packages bandrill-printer-app:printer-app"
else
    echo "package: this build has no bandrill-printer-app (no app/ or no PAPPL); bandrill only"
fi
echo "== package: build $targets"
# shellcheck disable=SC2086
cmake --build "$BUILD" -j "$JOBS" --target $targets >"$BUILD/build.log" 2>&1 || {
    tail -40 "$BUILD/build.log" >&2
    exit 1
}

is_elf() {
    [ "$(head -c 4 "$1" | od -An -c | tr -d ' ')" = '177ELF' ]
}

# make_package NAME COMPONENT: stage the component, add the Debian files,
# build NAME_VERSION_ARCH.deb into OUT.
make_package() {
    name=$1 component=$2
    stage="$BUILD/deb/$name"
    rm -rf "$stage"
    mkdir -p "$stage"
    DESTDIR="$stage" cmake --install "$BUILD" --component "$component" >"$BUILD/install-$name.log"
    if [ -z "$(find "$stage" -type f | head -1)" ]; then
        echo "package: the install component '$component' is empty; its install() rules must say COMPONENT $component" >&2
        exit 1
    fi

    if [ "$component" = printer-app ] && [ -z "$(find "$stage" -type f -name bandrill-printer-app -perm -u+x)" ]; then
        echo "package: the component printer-app holds no program bandrill-printer-app; its install(TARGETS) rule must say COMPONENT printer-app" >&2
        exit 1
    fi

    # Binaries stripped as Debian strips them; the ELF files are the ones
    # dpkg-shlibdeps looks at.
    elves=""
    for f in $(find "$stage" -type f | sort); do
        if is_elf "$f"; then
            strip --remove-section=.comment --remove-section=.note "$f"
            elves="$elves $f"
        fi
    done

    # Manual pages and the larger documents compressed; the copyright file
    # and a changelog in the package's documentation folder.
    find "$stage" -path '*/share/man/*' -type f ! -name '*.gz' -exec gzip -9n {} +
    doc="$stage/usr/share/doc/$name"
    mkdir -p "$doc"
    find "$doc" -type f ! -name '*.gz' -size +4k -exec gzip -9n {} +
    cp "$PKG/copyright" "$doc/copyright"
    changelog "$name"
    gzip -9n <"$BUILD/changelog-$name" >"$doc/changelog.gz"

    # Dependencies from the libraries the binaries load.
    depends=""
    if [ -n "$elves" ]; then
        mkdir -p "$BUILD/shlibdeps/debian"
        touch "$BUILD/shlibdeps/debian/control"
        # shellcheck disable=SC2086
        depends=$(cd "$BUILD/shlibdeps" && dpkg-shlibdeps -O $elves 2>"$BUILD/shlibdeps-$name.log" |
                  sed -n 's/^shlibs:Depends=//p')
    fi
    if [ -z "$depends" ]; then
        echo "package: dpkg-shlibdeps found no dependencies for $name:" >&2
        cat "$BUILD/shlibdeps-$name.log" >&2
        exit 1
    fi

    # Control files: the maintainer scripts only for systemd units, which
    # are enabled and started on installation, stopped on removal and
    # forgotten on purge.
    mkdir -p "$stage/DEBIAN"
    size=$(du -sk --apparent-size "$stage" | cut -f1)
    sed -e "s|@VERSION@|$VERSION|" -e "s|@ARCH@|$ARCH|" -e "s|@MAINTAINER@|$MAINTAINER|" \
        -e "s|@INSTALLED_SIZE@|$size|" -e "s|@DEPENDS@|$depends|" \
        "$PKG/$name.control" >"$stage/DEBIAN/control"
    units=$(cd "$stage" && find lib/systemd/system usr/lib/systemd/system -maxdepth 1 -type f \
            \( -name '*.service' -o -name '*.socket' \) 2>/dev/null | sed 's|.*/||' | sort | tr '\n' ' ')
    units=${units% }
    for script in postinst prerm postrm; do
        template="$PKG/$component.$script"
        [ -f "$template" ] || continue
        if [ -z "$units" ] && [ "$script" != postrm ]; then
            continue
        fi
        sed -e "s|#UNITFILES#|$units|g" -e "s|#PACKAGE#|$name|g" "$template" >"$stage/DEBIAN/$script"
        chmod 0755 "$stage/DEBIAN/$script"
    done
    (cd "$stage" && find . -path ./DEBIAN -prune -o -type f -printf '%P\0' | sort -z |
        xargs -0 md5sum) >"$stage/DEBIAN/md5sums"
    chmod 0644 "$stage/DEBIAN/control" "$stage/DEBIAN/md5sums"

    deb="$OUT/${name}_${VERSION}_$ARCH.deb"
    rm -f "$deb"
    dpkg-deb --root-owner-group -Zxz --build "$stage" "$deb" >/dev/null
    echo "package: $deb ($(wc -c <"$deb") bytes; depends: $depends${units:+; units: $units})"
}

for p in $packages; do
    make_package "${p%%:*}" "${p#*:}"
done

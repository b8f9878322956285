#!/usr/bin/env bash
# Builds the Debian package of a build folder, unpacks it into a scratch root and checks what a
# user gets: the files in their places, `mirova --help` running from there, a valid desktop
# entry and a manual page that renders without warnings.
#   package_test.sh CPACK BUILD_FOLDER
# With MIROVA_PACKAGE_INSTALL=1 (as root, in CI) the package is also installed for real with
# apt-get, run from /usr/bin, and removed again.
set -euo pipefail
cpack="$1"
build="$2"

scratch="$(mktemp -d)"
trap 'rm -rf "$scratch"' EXIT
failures=0
fail() {
    echo "FAIL: $*" >&2
    failures=$((failures + 1))
}

# The package goes to the scratch folder, so that the build folder stays as it was.
if ! "$cpack" -G DEB --config "$build/CPackConfig.cmake" -B "$scratch/out" >"$scratch/cpack.log" 2>&1; then
    cat "$scratch/cpack.log" >&2
    echo "FAIL: cpack could not build the package" >&2
    exit 1
fi
debs=("$scratch"/out/mirova_*.deb)
if [ ${#debs[@]} -ne 1 ] || [ ! -f "${debs[0]}" ]; then
    echo "FAIL: expected one mirova_*.deb, found: ${debs[*]}" >&2
    exit 1
fi
deb="${debs[0]}"

# The control fields a user's apt-get relies on.
field() { dpkg-deb --field "$deb" "$1"; }
[ "$(field Package)" = mirova ] || fail "Package is '$(field Package)'"
[ "$(field Section)" = utils ] || fail "Section is '$(field Section)'"
depends="$(field Depends)"
for package in libqt6core6 libqt6gui6 libqt6widgets6 fonts-noto-cjk; do
    grep -Eq "(^|[ ,|])$package( |,|$)" <<<"$depends" || fail "Depends lacks $package: $depends"
done

root="$scratch/root"
dpkg-deb -x "$deb" "$root"
for file in usr/bin/mirova usr/share/applications/mirova.desktop \
    usr/share/icons/hicolor/scalable/apps/mirova.svg usr/share/icons/hicolor/48x48/apps/mirova.png \
    usr/share/man/man1/mirova.1 usr/share/doc/mirova/README.md; do
    [ -f "$root/$file" ] || fail "the package lacks /$file"
done
# Nothing but the program itself: no test or screenshot tools, no static libraries or headers.
unexpected="$(cd "$root" && find . -type f | grep -Ev '^\./usr/(bin/mirova|share/(applications|icons|man|doc)/)' || true)"
[ -z "$unexpected" ] || fail "unexpected files in the package: $unexpected"

check_help() {
    local program="$1" output
    if ! output="$(env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM "$program" --help)"; then
        fail "$program --help ended with a failure status"
        return
    fi
    for form in "Usage:" "mirova [/D]" "mirova /A LIST [/D]" "--compare SOURCE TARGET" \
        "--sync    SOURCE TARGET" "--merge   SOURCE TARGET" "--export-presets FILE" \
        "--import-presets FILE [--yes]" "--exclude FRAGMENT" "--exclude-ext EXT" \
        "--no-stop-on-error" "--suppress-deletion" "Exit status:" "MIROVA_LOG_DIR"; do
        grep -qF -- "$form" <<<"$output" || fail "$program --help does not show '$form'"
    done
}
check_help "$root/usr/bin/mirova"

desktop-file-validate "$root/usr/share/applications/mirova.desktop" || fail "desktop entry invalid"
# The entry's icon and command name the installed files.
grep -qx 'Icon=mirova' "$root/usr/share/applications/mirova.desktop" || fail "Icon is not mirova"
grep -qx 'Exec=mirova' "$root/usr/share/applications/mirova.desktop" || fail "Exec is not mirova"

warnings="$(LC_ALL=C.UTF-8 groff -man -Tutf8 -ww -z "$root/usr/share/man/man1/mirova.1" 2>&1)"
[ -z "$warnings" ] || fail "the manual page renders with warnings: $warnings"

if [ "${MIROVA_PACKAGE_INSTALL:-0}" = 1 ]; then
    if [ "$(id -u)" -ne 0 ]; then
        fail "MIROVA_PACKAGE_INSTALL=1 needs root"
    elif dpkg-query -W -f='${Status}' mirova 2>/dev/null | grep -q "install ok installed"; then
        fail "mirova is installed already; this test does not replace it"
    else
        cp "$deb" "$scratch/mirova.deb"
        DEBIAN_FRONTEND=noninteractive apt-get install -y "$scratch/mirova.deb" >"$scratch/apt.log" 2>&1 ||
            { cat "$scratch/apt.log" >&2; fail "apt-get install"; }
        check_help /usr/bin/mirova
        MANPAGER=cat man mirova >/dev/null 2>&1 || fail "man mirova"
        DEBIAN_FRONTEND=noninteractive apt-get remove -y mirova >>"$scratch/apt.log" 2>&1 || fail "apt-get remove"
        [ ! -e /usr/bin/mirova ] || fail "/usr/bin/mirova is left after removal"
    fi
fi

if [ "$failures" -ne 0 ]; then
    exit 1
fi
echo "package $(basename "$deb") is complete"

#!/usr/bin/env bash
# Builds the Debian package from a build tree and checks what a user would get: the files and
# nothing else, the dependencies dpkg-shlibdeps found, the desktop entry, a manual page that
# names every option of --help, the shell completion, and a morvex-split that runs from the
# unpacked package.
# usage: check-package.sh BUILD_DIR WORK_DIR
set -euo pipefail

build=$1
work=$2
rm -rf "$work"
mkdir -p "$work"

fail() {
    echo "FAIL: $*" >&2
    exit 1
}

cpack --config "$build/CPackConfig.cmake" -B "$work" >"$work/cpack.log" 2>&1 ||
    { cat "$work/cpack.log" >&2; fail "cpack"; }
debs=("$work"/*.deb)
if [ ${#debs[@]} -ne 1 ] || [ ! -f "${debs[0]}" ]; then
    fail "one .deb expected in $work"
fi
deb=${debs[0]}

# Exactly these files, so that nothing of the build (tests, libraries, headers) slips in.
expected="./usr/bin/morvex
./usr/bin/morvex-split
./usr/share/applications/morvex.desktop
./usr/share/bash-completion/completions/morvex-split
./usr/share/doc/morvex/copyright
./usr/share/icons/hicolor/scalable/apps/morvex.svg
./usr/share/man/man1/morvex-split.1.gz
./usr/share/man/man1/morvex.1.gz"
files=$(dpkg-deb --fsys-tarfile "$deb" | tar -t | grep -v '/$' | sort)
[ "$files" = "$expected" ] || fail "package files differ:$(diff <(echo "$expected") <(echo "$files"))"

depends=$(dpkg-deb -f "$deb" Depends)
for library in libc6 libstdc++6 libqt6widgets6 libqt6svg6 libpugixml1v5; do
    [[ $depends == *"$library "* || $depends == *"$library," || $depends == *"$library" ]] ||
        fail "Depends lacks $library: $depends"
done
[ "$(dpkg-deb -f "$deb" Package)" = morvex ] || fail "package name"
# Without bash-completion, bash never loads the completion that the package ships.
[ "$(dpkg-deb -f "$deb" Recommends)" = bash-completion ] || fail "Recommends: bash-completion"

root=$work/root
dpkg-deb -x "$deb" "$root"

help=$("$root/usr/bin/morvex-split" --help) || fail "morvex-split --help exit status $?"
[[ $help == *"Usage: morvex-split"* ]] || fail "--help: $help"

version=$("$root/usr/bin/morvex-split" --version | awk '{print $2}')
check_man_page() { # the page's text on stdout; every section once, no groff warnings
    local text
    text=$(gzip -dc "$root/usr/share/man/man1/$1.1.gz")
    [[ $text == *"morvex $version"* ]] || fail "$1.1: manual page of another version"
    local repeated
    repeated=$(grep '^\.SH' <<<"$text" | sort | uniq -d)
    [ -z "$repeated" ] || fail "$1.1: sections twice: $repeated"
    local warnings
    warnings=$(groff -man -ww -z <<<"$text" 2>&1) || true
    [ -z "$warnings" ] || fail "$1.1: $warnings"
    printf '%s' "$text"
}
check_man_page morvex >/dev/null

# The manual page is written by hand: it must keep up with the options the program has.
man=$(check_man_page morvex-split)
mapfile -t options < <(grep -oE -- '--[a-z]+' <<<"$help" | sort -u)
[ ${#options[@]} -ge 8 ] || fail "too few options found in --help: ${options[*]}"
for option in "${options[@]}"; do
    [[ $man == *"\\-\\-${option#--}"* ]] || fail "manual page lacks $option"
done

copyright=$root/usr/share/doc/morvex/copyright
grep -q '^Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/' "$copyright" ||
    fail "copyright file is not in the machine-readable format"

desktop=$root/usr/share/applications/morvex.desktop
if command -v desktop-file-validate >/dev/null; then
    desktop-file-validate "$desktop" || fail "desktop entry does not validate"
fi
grep -qx 'Exec=morvex %F' "$desktop" || fail "desktop entry does not pass files"
grep -qx 'MimeType=audio/x-wav;audio/vnd.wave;audio/wav;' "$desktop" || fail "desktop MIME types"

# The completion, as bash would ask it: option values, options, and the pairs of arguments.
mkdir -p "$work/take/folder"
touch "$work/take/MKZ01_01.WAV" "$work/take/notes.txt"
complete_line() { # the words of a command line, the last one being completed
    (
        cd "$work/take"
        # shellcheck source=/dev/null
        source "$root/usr/share/bash-completion/completions/morvex-split"
        COMP_WORDS=("$@")
        COMP_CWORD=$((${#COMP_WORDS[@]} - 1))
        _morvex_split
        printf '%s\n' "${COMPREPLY[@]}" | sort | paste -sd' '
    )
}
check_completion() {
    local want=$1
    shift
    local got
    got=$(complete_line "$@")
    [ "$got" = "$want" ] || fail "completing '$*': '$got', not '$want'"
}
check_completion "all mono pairs" morvex-split -t ""
check_completion "caf" morvex-split --format c
check_completion "--info" morvex-split -q --i
check_completion "MKZ01_01.WAV folder" morvex-split -t mono ""
check_completion "folder" morvex-split MKZ01_01.WAV ""
check_completion "MKZ01_01.WAV folder" morvex-split -e 2 MKZ01_01.WAV folder ""
check_completion "folder" morvex-split -c 1-8 MKZ01_01.WAV ""

echo "package ok: $(basename "$deb"), Depends: $depends"

#!/usr/bin/env bash
# Installs the build into a staging folder, as `make install` and the .deb do, and checks
# that every installed file is there, passes its validator and agrees with the others.
# Usage: install_tests.sh BUILD_DIR VERSION APP_ID
set -uo pipefail

build=$1 version=$2 id=$3
stage=$(mktemp -d)
trap 'rm -rf "$stage"' EXIT
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

if ! cmake --install "$build" --prefix "$stage/usr" > "$stage/install.log" 2>&1; then
    cat "$stage/install.log"
    echo "FAIL: cmake --install"
    exit 1
fi
usr=$stage/usr
share=$usr/share
desktop=$share/applications/$id.desktop
metainfo=$share/metainfo/$id.metainfo.xml
mime=$share/mime/packages/$id.xml
completion=$share/bash-completion/completions/zarvel-cli

for f in "$usr/bin/zarvel" "$usr/bin/zarvel-cli" "$desktop" "$metainfo" "$mime" "$completion" \
    "$share/icons/hicolor/scalable/apps/$id.svg" "$share/man/man1/zarvel.1" "$share/man/man1/zarvel-cli.1"; do
    [[ -s $f ]] || fail "missing $f"
done

# Each fixed-size icon is a PNG of its folder's size (the IHDR width and height).
for size in 16 24 32 48 64 128 256 512; do
    png=$share/icons/hicolor/${size}x${size}/apps/$id.png
    if [[ ! -s $png ]]; then fail "missing $png"; continue; fi
    read -r w0 w1 w2 w3 h0 h1 h2 h3 < <(od -An -tu1 -j16 -N8 "$png")
    width=$(((w0 << 24) | (w1 << 16) | (w2 << 8) | w3)) height=$(((h0 << 24) | (h1 << 16) | (h2 << 8) | h3))
    [[ $width == "$size" && $height == "$size" ]] || fail "$png is ${width}x${height}"
done
xmllint --noout "$share/icons/hicolor/scalable/apps/$id.svg" || fail "the SVG icon is not well-formed"

# Programs: --version and --help need no display.
unset DISPLAY WAYLAND_DISPLAY QT_QPA_PLATFORM
[[ $("$usr/bin/zarvel" --version) == "zarvel $version" ]] || fail "zarvel --version"
[[ $("$usr/bin/zarvel-cli" --version) == "zarvel-cli $version" ]] || fail "zarvel-cli --version"
"$usr/bin/zarvel" --help | grep -q '^Usage: zarvel .*FILE' || fail "zarvel --help"

# Desktop entry: valid, launches zarvel with files, names our icon, and every MIME type it
# claims is either the system's or defined by our package.
desktop-file-validate "$desktop" || fail "desktop-file-validate"
grep -qx 'Exec=zarvel %F' "$desktop" || fail "Exec line"
grep -qx "Icon=$id" "$desktop" || fail "Icon line"
for type in $(sed -n 's/^MimeType=//p' "$desktop" | tr ';' ' '); do
    case $type in
        text/csv | text/tab-separated-values) ;;
        *) grep -q "<mime-type type=\"$type\">" "$mime" || fail "$type is not defined in $mime" ;;
    esac
done

# MIME package: only our own types, each compiled without complaint with its glob.
xmllint --noout "$mime" || fail "the MIME package is not well-formed"
grep -Eq 'type="text/(csv|tab-separated-values)">' "$mime" && fail "the MIME package redefines a system type"
mkdir -p "$stage/mime/packages" && cp "$mime" "$stage/mime/packages/"
# Inside XDG_DATA_HOME, so that the only output would be a complaint about our file.
if ! XDG_DATA_HOME=$stage update-mime-database "$stage/mime" > "$stage/mime.log" 2>&1 || [[ -s $stage/mime.log ]]; then
    cat "$stage/mime.log"
    fail "update-mime-database"
fi
for glob in tab psv dsv; do
    grep -q ":\*\.$glob$" "$stage/mime/globs2" || fail "no MIME type for *.$glob"
done

# AppStream: valid, the same id as the desktop entry, and this version released.
appstreamcli validate --no-net "$metainfo" || fail "appstreamcli validate"
grep -q "<id>$id</id>" "$metainfo" || fail "metainfo id"
grep -q "<launchable type=\"desktop-id\">$id.desktop</launchable>" "$metainfo" || fail "metainfo launchable"
grep -q "<release version=\"$version\"" "$metainfo" || fail "no release $version in the metainfo"

# Man pages: formatted without a warning.
for page in zarvel zarvel-cli; do
    warnings=$(groff -man -Tutf8 -ww -z "$share/man/man1/$page.1" 2>&1)
    [[ -z $warnings ]] || fail "$page.1: $warnings"
done

# Completion and manual keep up with the command line: every option zarvel-cli's help
# lists for a command is offered after "zarvel-cli COMMAND FILE --" and documented, and
# every encoding is offered after --encoding. bash-completion's helpers are stubbed.
bash -n "$completion" || fail "the completion script does not parse"
complete_words() {
    bash -c '
        _init_completion() { words=("${COMP_WORDS[@]}"); cword=$COMP_CWORD; cur=${words[cword]}; prev=${words[cword-1]}; }
        _filedir() { COMPREPLY=(); }
        source "$1"; shift
        COMP_WORDS=("$@"); COMP_CWORD=$(($# - 1)); _zarvel_cli; printf "%s\n" "${COMPREPLY[@]}"' \
        _ "$completion" zarvel-cli "$@"
}
for command in info cells convert find sort; do
    offered=$(complete_words "$command" file.csv --)
    for option in $("$usr/bin/zarvel-cli" "$command" --help | grep -oE -- '--[a-z][a-z-]*' | sort -u); do
        grep -qx -- "$option" <<< "$offered" || fail "$command $option is not completed"
        grep -q -- "${option//-/\\\\-}" "$share/man/man1/zarvel-cli.1" || fail "$command $option is not in the manual"
    done
done
offered=$(complete_words info file.csv --encoding "")
for encoding in $("$usr/bin/zarvel-cli" info --help | grep -oE 'Text encoding: .*' | sed 's/Text encoding: //; s/,//g'); do
    grep -qx -- "$encoding" <<< "$offered" || fail "encoding $encoding is not completed"
done
[[ $(complete_words co) == convert ]] || fail "subcommands are not completed"

((failures == 0)) && echo "install checks passed"
exit $((failures > 0))

#!/bin/bash
# Usage: PackageTest.sh CPACK BUILD_DIR VERSION
# Builds the Debian package of BUILD_DIR into a folder of its own and checks
# what a user gets from it: the file list, the dependencies, both programs'
# versions, a valid desktop entry, a manual page and a completion that know
# every command and option the tool's --help lists.
set -uo pipefail
cpack=$1 build=$2 version=$3
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failures=0
fail() { echo "FAIL: $*" >&2; failures=$((failures + 1)); }

# Words that `PROGRAM [COMMAND] --help` lists in one section ("subcommands"
# or "options"), one a line; "-o,--output" gives both names.
listed() {
    local section=$1
    shift
    "$@" --help | awk -v want="$section:" '
        tolower($0) == want { inside = 1; next }
        /^$/ || /^[^ ]/ { inside = 0 }
        inside && want == "subcommands:" { print $1 }
        inside && want == "options:" && $1 ~ /^-/ { n = split($1, names, ","); for (i = 1; i <= n; i++) print names[i] }'
}

# 1. the package, in this test's own folder
if ! "$cpack" --config "$build/CPackConfig.cmake" -B "$work/out" >"$work/cpack.log" 2>&1; then
    cat "$work/cpack.log" >&2
    echo "FAIL: cpack" >&2
    exit 1
fi
deb=$work/out/kelvane_${version}_amd64.deb
[[ -f $deb ]] || { echo "FAIL: no $deb; cpack wrote: $(ls "$work/out")" >&2; exit 1; }

# 2. exactly the two programs and their files: no test, benchmark or fuzz program
expected='./usr/bin/kelvane
./usr/bin/kelvane-cli
./usr/share/applications/kelvane.desktop
./usr/share/bash-completion/completions/kelvane-cli
./usr/share/doc/kelvane/changelog.Debian.gz
./usr/share/doc/kelvane/copyright
./usr/share/icons/hicolor/scalable/apps/kelvane.svg
./usr/share/man/man1/kelvane-cli.1.gz
./usr/share/man/man1/kelvane.1.gz
./usr/share/mime/packages/kelvane.xml'
files=$(dpkg-deb -c "$deb" | awk '$1 !~ /^d/ { print $6 }' | sort)
[[ $files == "$expected" ]] || fail "package files differ from the expected list:
$(diff <(echo "$expected") <(echo "$files"))"
[[ $(dpkg-deb -f "$deb" Version) == "$version" ]] || fail "package version $(dpkg-deb -f "$deb" Version), not $version"
depends=$(dpkg-deb -f "$deb" Depends)
for library in libqt6widgets6 libqt6gui6 libqt6core6 libstdc++6 libc6; do
    [[ $depends == *"$library "* ]] || fail "Depends does not name $library: $depends"
done

# Debian's own checks: no error (the warnings are listed in the log).
lintian --no-tag-display-limit "$deb" >"$work/lintian.log" 2>&1
cat "$work/lintian.log"
! grep -q '^E:' "$work/lintian.log" || fail "lintian reports errors"

# 3. what it installs, taken out of the package
dpkg-deb -x "$deb" "$work/root"
usr=$work/root/usr
doc=$usr/share/doc/kelvane
[[ $(gzip -dc "$doc/changelog.Debian.gz" | head -1) == "kelvane ($version) "* ]] ||
    fail "the changelog's latest entry is not $version: $(gzip -dc "$doc/changelog.Debian.gz" | head -1)"
grep -q "^License: Expat" "$doc/copyright" && grep -qF "$(sed -n 's/^Copyright (c) //p' "$(dirname "$0")/../../LICENSE")" "$doc/copyright" ||
    fail "the copyright file does not carry LICENSE"
cli=$usr/bin/kelvane-cli
[[ $("$cli" --version) == "kelvane-cli $version" ]] || fail "kelvane-cli --version: $("$cli" --version)"
[[ $("$usr/bin/kelvane" --version) == "kelvane $version" ]] || fail "kelvane --version: $("$usr/bin/kelvane" --version)"

desktop=$usr/share/applications/kelvane.desktop
desktop-file-validate "$desktop" || fail "desktop-file-validate rejects the desktop entry"
entry() { sed -n "s/^$1=//p" "$desktop"; }
[[ -x $usr/bin/$(entry Exec | cut -d' ' -f1) ]] || fail "Exec names no installed program: $(entry Exec)"
[[ $(entry Exec) == *%[fFuU]* ]] || fail "Exec does not pass the file to open: $(entry Exec)"
[[ -f $usr/share/icons/hicolor/scalable/apps/$(entry Icon).svg ]] || fail "no icon named $(entry Icon)"
grep -q "^Categories=.*Graphics;" "$desktop" || fail "the desktop entry is not in Graphics"
for type in $(entry MimeType | tr ';' ' '); do
    grep -q "type=\"$type\"" "$usr/share/mime/packages/kelvane.xml" || fail "no installed definition of $type"
done
# The file type as a desktop finds it: MDL5 by its first bytes, whatever the
# name; another format's .mdl file is not MDL5, and MDL7 is its own.
mkdir -p "$work/xdg/mime/packages" "$work/typed"
cp "$usr/share/mime/packages/kelvane.xml" "$work/xdg/mime/packages/"
update-mime-database "$work/xdg/mime" >/dev/null || fail "update-mime-database rejects kelvane.xml"
printf 'MDL5\6\0\0\0' >"$work/typed/model.mdl"
printf 'MDL5\6\0\0\0' >"$work/typed/model.bin"
printf 'IDPO\6\0\0\0' >"$work/typed/older.mdl"
printf 'MDL7\0\0\0\0' >"$work/typed/later.mdl"
typeOf() { XDG_DATA_HOME=$work/xdg XDG_DATA_DIRS=$work/xdg:/usr/share gio info -a standard::content-type "$1" | sed -n 's/.*content-type: //p'; }
[[ $(typeOf "$work/typed/model.mdl") == model/x-mdl5 ]] || fail "an MDL5 .mdl file is $(typeOf "$work/typed/model.mdl")"
[[ $(typeOf "$work/typed/model.bin") == model/x-mdl5 ]] || fail "an MDL5 file of another name is $(typeOf "$work/typed/model.bin")"
[[ $(typeOf "$work/typed/older.mdl") != model/x-mdl5 ]] || fail "a .mdl file that is not MDL5 is taken for MDL5"
[[ $(typeOf "$work/typed/later.mdl") == model/x-mdl7 ]] || fail "an MDL7 .mdl file is $(typeOf "$work/typed/later.mdl")"

# The manual page as a reader sees it: wide lines, no hyphenation, so every
# option name stands whole. Each command's options must be in its own subsection.
render() { gzip -dc "$1" | groff -man -Tascii -P-cbou -rLL=400n -rHY=0 2>/dev/null; }
page=$(render "$usr/share/man/man1/kelvane-cli.1.gz")
for heading in NAME SYNOPSIS OPTIONS COMMANDS 'EXIT STATUS' EXAMPLES; do
    grep -qx "$heading" <<<"$page" || fail "kelvane-cli.1 has no $heading section"
done
for option in $(listed options "$cli"); do
    grep -qE -- "(^|[ ,])$option([ ,=]|$)" <<<"$page" || fail "kelvane-cli.1 lacks the option $option"
done
commands=$(listed subcommands "$cli")
[[ -n $commands ]] || fail "kelvane-cli --help lists no commands"
for command in $commands; do
    text=$(awk -v name="   $command" '$0 == name { inside = 1; next } /^ ? ? ?[^ ]/ { inside = 0 } inside' <<<"$page")
    [[ -n $text ]] || fail "kelvane-cli.1 has no subsection for the command $command"
    for option in $(listed options "$cli" "$command"); do
        grep -qE -- "(^|[ ,])$option([ ,=]|$)" <<<"$text" || fail "kelvane-cli.1 lacks $command $option"
    done
done
windowPage=$(render "$usr/share/man/man1/kelvane.1.gz")
grep -qx NAME <<<"$windowPage" || fail "kelvane.1 does not render"
# Every command of the window and of its preview, and the preview's shortcut.
for word in 'Open MDL5' Reduce 'Save MDL5' Preview Ctrl+P Target Apply; do
    grep -qF -- "$word" <<<"$(tr -s ' \n' ' ' <<<"$windowPage")" || fail "kelvane.1 does not mention $word"
done

# The completion, as bash runs it on Tab, in a folder of models and other files.
mkdir -p "$work/models/sub" && touch "$work/models/a.mdl" "$work/models/b.txt" "$work/models/c.png" "$work/models/d.TGA"
completionsOf() {  # the program, the words typed before the cursor, then the word being completed
    (cd "$work/models" && bash -c '
        source "$1"; shift; COMP_WORDS=("$@"); COMP_CWORD=$(($# - 1)); _kelvane_cli; printf "%s\n" "${COMPREPLY[@]}"' \
        _ "$usr/share/bash-completion/completions/kelvane-cli" "$@" | sort)
}
completions() { completionsOf "$cli" "$@"; }
[[ $(completions '') == "$(sort <<<"$commands")" ]] || fail "completing a command gives: $(completions '' | tr '\n' ' ')"
for command in $commands; do
    offered=$(completions "$command" -)
    for option in $(listed options "$cli" "$command"); do
        grep -qx -- "$option" <<<"$offered" || fail "completion of '$command -' lacks $option"
    done
    [[ $(completions "$command" '') == $'a.mdl\nsub' ]] || fail "completing a file after $command gives: $(completions "$command" '' | tr '\n' ' ')"
done
[[ -z $(completions reduce --level '') ]] || fail "completing a level offers words: $(completions reduce --level '')"
[[ $(completions reduce -o '') == $'a.mdl\nsub' ]] || fail "completing -o gives: $(completions reduce -o '' | tr '\n' ' ')"
[[ $(completions render -o '') == $'c.png\nsub' ]] || fail "completing render -o gives: $(completions render -o '' | tr '\n' ' ')"
[[ $(completions render --skin '') == $'c.png\nd.TGA\nsub' ]] || fail "completing --skin gives: $(completions render --skin '' | tr '\n' ' ')"
[[ $(completions reduce --out-dir '') == sub ]] || fail "completing --out-dir gives: $(completions reduce --out-dir '' | tr '\n' ' ')"
[[ -z $(completions render --size '') ]] || fail "completing a size offers words: $(completions render --size '')"

# Commands and choices added later complete from the help alone.
printf '%s\n' '#!/bin/sh' 'case "$1" in' \
    "--help) printf 'Options:\n  -h,--help  this\n\nSubcommands:\n  render  a picture\n' ;;" \
    "render) printf 'Options:\n  --shading ENUM:value in {flat->0,smooth->1} OR {0,1}\n  --size INT  pixels\n' ;;" \
    'esac' >"$work/later-cli" && chmod +x "$work/later-cli"
[[ $(completionsOf "$work/later-cli" '') == render ]] || fail "a later command does not complete"
[[ $(completionsOf "$work/later-cli" render --shading '') == $'flat\nsmooth' ]] ||
    fail "a later option's choices complete as: $(completionsOf "$work/later-cli" render --shading '' | tr '\n' ' ')"

((failures == 0))

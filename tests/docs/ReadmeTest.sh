#!/bin/bash
# Usage: ReadmeTest.sh CLI README MODELS_DIR [--update]
# Runs the sample sessions of README on the real models and compares what the
# tool prints with what the README shows, so the two cannot drift apart.
#
# A sample is an indented code line "    $ kelvane-cli ARGS..." followed by the
# lines it prints to standard output, indented the same, up to the next "$"
# line, a blank line or the end of the block. Samples run in README order in
# one scratch folder whose models/ holds the real MDL5 models, so a later one
# may read what an earlier one wrote. Words are split on spaces; no quoting.
# --update writes what the tool prints now into README instead of comparing:
# run it after a change that moves the figures, and read the diff.
# Exits 77 (skipped) when the real models are not there.
set -uo pipefail
cli=$(realpath "$1") readme=$2 models=$3 update=${4:-}
shown=(earth.mdl minigun.mdl)
for model in "${shown[@]}"; do
    [[ -f $models/$model ]] || { echo "SKIP: $models/$model not found: the README's samples need the real models"; exit 77; }
done
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir "$work/models"
for model in "${shown[@]}"; do ln -s "$(realpath "$models/$model")" "$work/models/$model"; done

readarray -t lines <"$readme"
result=()       # README as it should read: the lines shown, or the lines printed
failures=0
samples=0
i=0
while ((i < ${#lines[@]})); do
    line=${lines[i]}
    result+=("$line")
    ((i++))
    [[ $line == '    $ '* ]] || continue
    at=$i  # the sample's line in README, from 1
    command=${line#    \$ }
    read -ra words <<<"$command"
    [[ ${words[0]} == kelvane-cli ]] || { echo "FAIL: README line $at runs ${words[0]}, not kelvane-cli" >&2; failures=$((failures + 1)); continue; }
    expected=()
    while ((i < ${#lines[@]})) && [[ ${lines[i]} == '    '* && ${lines[i]} != '    $ '* ]]; do
        expected+=("${lines[i]#    }")
        ((i++))
    done
    samples=$((samples + 1))
    printed=$(cd "$work" && "$cli" "${words[@]:1}" 2>"$work/stderr")
    status=$?
    readarray -t actual <<<"$printed"
    [[ -z $printed ]] && actual=()
    if [[ $update == --update ]]; then
        for out in "${actual[@]}"; do result+=("    $out"); done
    else
        for out in "${expected[@]}"; do result+=("    $out"); done
        if ((status != 0)); then
            echo "FAIL: README line $at: '$command' exited with $status: $(cat "$work/stderr")" >&2
            failures=$((failures + 1))
        elif [[ $(printf '%s\n' "${expected[@]}") != "$(printf '%s\n' "${actual[@]}")" ]]; then
            echo "FAIL: README line $at: '$command' prints other lines than shown (- shown, + printed):" >&2
            diff <(printf '%s\n' "${expected[@]}") <(printf '%s\n' "${actual[@]}") | sed -n 's/^</-/p; s/^>/+/p' >&2
            failures=$((failures + 1))
        fi
    fi
done
((samples > 0)) || { echo "FAIL: no sample session ('    \$ kelvane-cli ...') in $readme" >&2; exit 1; }
if [[ $update == --update ]]; then
    printf '%s\n' "${result[@]}" >"$readme"
    echo "wrote the output of $samples samples into $readme"
fi
echo "$samples samples, $failures differ"
((failures == 0))

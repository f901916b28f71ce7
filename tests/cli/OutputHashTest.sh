#!/bin/bash
# Usage: OutputHashTest.sh CLI HASHES MODELS_DIR [--update]
# Reduces every real model of the shared folder with the settings listed in
# HASHES and compares the SHA-256 of every file written, and of what the tool
# prints, with the line kept there. A change of structure must leave every
# byte where it was; a change that moves results says so by updating HASHES
# (--update writes the present hashes; read the diff before committing it).
# A line of HASHES: MODEL|ARGUMENTS|HASH OF THE OUTPUTS|HASH OF STANDARD OUTPUT.
# Exits 77 (skipped) when the real models are not there.
set -uo pipefail
cli=$(realpath "$1") hashes=$2 models=$3 update=${4:-}
[[ -d $models ]] || { echo "SKIP: $models not found: the output hashes are of the real models"; exit 77; }
models=$(realpath "$models")
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# One run: its outputs (in name order) and its standard output, hashed.
run() {  # model, arguments
    local model=$1 args=$2 out="$work/out"
    rm -rf "$out" && mkdir "$out"
    local printed
    # The output folder stands in the arguments as OUT, named relative to the
    # scratch folder so that the lines printed do not depend on where it is.
    printed=$(cd "$work" && "$cli" reduce ${args//OUT/out} "$models/$model" 2>/dev/null)
    local files
    files=$(cd "$out" && find . -type f | LC_ALL=C sort | xargs -r sha256sum | sha256sum | cut -d' ' -f1)
    echo "$model|$args|$files|$(printf '%s' "$printed" | sha256sum | cut -d' ' -f1)"
}

failures=0
runs=0
result=()
while IFS= read -r line; do
    [[ -z $line || $line == \#* ]] && { result+=("$line"); continue; }
    IFS='|' read -r model args files printed <<<"$line"
    if [[ ! -f $models/$model ]]; then
        echo "SKIP: $models/$model not found"
        result+=("$model|$args|$files|$printed")
        continue
    fi
    now=$(run "$model" "$args")
    runs=$((runs + 1))
    result+=("$now")
    if [[ $now != "$model|$args|$files|$printed" ]]; then
        echo "DIFFERS: $model $args"
        echo "  kept: $files $printed"
        echo "  now:  ${now#"$model|$args|"}"
        failures=$((failures + 1))
    fi
done <"$hashes"

if [[ $update == --update ]]; then
    printf '%s\n' "${result[@]}" >"$hashes"
    echo "wrote $runs hashes into $hashes"
    exit 0
fi
((runs > 0)) || { echo "SKIP: none of the listed models is there"; exit 77; }
echo "$runs runs, $failures differ"
((failures == 0))

#!/bin/bash
# Usage: ThirdPartyReaderTest.sh CLI MODELS_DIR
# Every real model that a third-party reader (assimp, Debian assimp-utils)
# imports is halved by reduce, and the reader must import the result with
# the triangles the tool says it holds. A model the reader cannot import as
# it comes is passed over with a line saying so.
# Exits 77 (skipped) without the reader or the real models.
set -uo pipefail
cli=$(realpath "$1") models=$2
command -v assimp >/dev/null || { echo "SKIP: assimp (Debian assimp-utils) is not installed"; exit 77; }
[[ -d $models ]] || { echo "SKIP: $models not found"; exit 77; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

faces() { timeout 120 assimp info "$1" 2>/dev/null | sed -n 's/^Faces: *\([0-9]*\)$/\1/p'; }
failures=0 checked=0
for model in "$models"/*.mdl "$models"/*.md2 "$models"/*.md3; do
    [[ -f $model ]] || continue
    name=$(basename "$model")
    if [[ -z $(faces "$model") ]]; then
        echo "passed over: assimp does not import $name as it comes"
        continue
    fi
    out="$work/$name"
    "$cli" reduce --quiet --ratio 0.5 "$model" -o "$out" || { echo "FAILED: reduce of $name"; failures=$((failures + 1)); continue; }
    said=$("$cli" info "$out" | sed -n 's/^MODEL INFO: [0-9]*Vertices, \([0-9]*\)Faces.*/\1/p')
    read=$(faces "$out")
    checked=$((checked + 1))
    if [[ $read != "$said" ]]; then
        echo "FAILED: $name halved: assimp reads ${read:-nothing} faces, the tool says $said"
        failures=$((failures + 1))
    fi
done
((checked > 0)) || { echo "SKIP: assimp imports none of the models"; exit 77; }
echo "$checked models halved and read back, $failures failed"
((failures == 0))

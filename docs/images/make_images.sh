#!/bin/sh
# Makes the pictures of the README and docs/ from the bundled examples with the
# built tool, so that they always show what the tool draws today.
#
#   docs/images/make_images.sh RESPMAT [FOLDER]
#
# RESPMAT is the tool; the pictures go to FOLDER (default: this script's folder).
# The tests run it into the build tree to see that every picture can still be made.
set -eu

if [ $# -lt 1 ] || [ $# -gt 2 ]; then
  echo "usage: $0 RESPMAT [FOLDER]" >&2
  exit 64
fi
respmat=$(cd "$(dirname "$1")" && pwd)/$(basename "$1")
here=$(cd "$(dirname "$0")" && pwd)
examples=$here/../../examples
mkdir -p "${2:-$here}"
out=$(cd "${2:-$here}" && pwd)
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT INT TERM

# The bare command's inputs sit in the parent of its working folder.
cp "$examples"/realmachinephases.csv "$examples"/reponsematx_H0.1A.csv "$scratch"/
cp "$examples"/optics/iota_v8.3_twiss.tfs "$scratch"/iota.tfs
mkdir "$scratch"/run
cd "$scratch"/run

# The model of the bundled phases, and the ring model of the optics table.
"$respmat" --heatmap "$out"/example-heatmap.png >/dev/null
"$respmat" --optics ../iota.tfs --lattice ring -o iota.csv --labels --heatmap "$out"/iota-heatmap.png >/dev/null

# The measured matrix against the model: 30 correctors at the first 30 monitors,
# measured with a step of 0.1.
"$respmat" compare --corrector-monitors "$(seq -s, 0 29)" --step 0.1 -o residual.csv \
  --heatmap "$out"/compare-residual.png --plot "$out"/compare-rms.png >/dev/null

# An orbit made by three kicks of the ring model and a little noise of its own, then
# corrected with 12 of the 21 singular values.
awk -F, 'NR == 1 { print "name,x" }
          NR > 1 && NF > 1 { printf "%s,%.6f\n", $1, 0.8 * $5 - 0.5 * $12 + 0.3 * $18 + 0.02 * sin(7 * NR) }' \
  iota.csv >orbit.csv
"$respmat" correct --optics ../iota.tfs --lattice ring --orbit orbit.csv --orbit-column x \
  --singular-values 12 --plot "$out"/correct-orbit.png --spectrum-plot "$out"/correct-singular-values.png >/dev/null

for picture in example-heatmap iota-heatmap compare-residual compare-rms correct-orbit correct-singular-values; do
  test -s "$out/$picture.png" || { echo "$0: $picture.png was not made" >&2; exit 1; }
done

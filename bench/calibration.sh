#!/usr/bin/env bash
# Calibration of the p-values: generates data sets of known noise (16000
# voxels, 2 runs of 100 volumes, TR 2 s, baseline-terms 2), analyses each with
# several noise models and filters, and prints per case the false-positive rate
# of condition 1 at p < 0.05 and p < 0.001 over the voxels without an effect,
# with the central 99.9 % interval of Binomial(voxels, alpha) and an ok/OUT
# mark, and the detection power in the 1000 voxels that carry a response of
# 0.5 % of the baseline (noise s.d. 1 %).
#
# Noise: white Gaussian; AR(1) 0.4; AR(2) x[t] = 0.5 x[t-1] - 0.2 x[t-2] + e[t];
# Student t with 3 DOF; Gaussian with 5 % of the points replaced by +-10 s.d.
# outliers; white and AR(1) with three excluded segments per run (11 points,
# each carrying a +20 s.d. artifact). Rows marked "reference" use a model that
# ignores the noise's autocorrelation and are expected to be inflated.
#
#   bash bench/calibration.sh
# Exit status 0 when every row but the reference rows lies inside its intervals.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
cmake -S . -B build -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build build -j"$(nproc)" --target fmriglm fmriglm_make_dataset fmriglm_calibration_rates >/dev/null

work=build/bench-calibration
rm -rf "$work"
mkdir -p "$work"
exe=$(pwd)/build/fmriglm
rates=$(pwd)/build/tools/fmriglm_calibration_rates
excl="--exclude 20-22 --exclude 50-54 --exclude 80-82"

# Data set name, generator options, noise description.
datasets=(
  "white|--ar 0 --seed 11|Gaussian, white"
  "ar1|--ar 0.4 --seed 12|AR(1) 0.4"
  "ar2|--ar 0.5 --ar2 -0.2 --seed 13|AR(2) 0.5, -0.2"
  "t3|--ar 0 --distribution t3 --seed 14|Student t, 3 DOF"
  "outliers|--ar 0 --outliers 0.05 --seed 15|5 % outliers of 10 s.d."
  "white-excl|--ar 0 $excl --seed 16|white, 11 points/run excluded"
  "ar1-excl|--ar 0.4 $excl --seed 17|AR(1) 0.4, 11 points/run excluded"
)
# Data set, model keyword lines (separated by ';'), "ref" for a reference row.
cases=(
  "white|noise-model OLS|"
  "white|AR 1|"
  "white|AR 2|"
  "white|noise-model iWLS|"
  "white|noise-model iWLS;AR 1|"
  "white|frequency-filter 0 0.2|"
  "white|frequency-filter 0.05 1000|"
  "ar1|noise-model OLS|ref"
  "ar1|AR 1|"
  "ar1|AR 2|"
  "ar1|noise-model iWLS;AR 1|"
  "ar2|noise-model OLS|ref"
  "ar2|AR 2|"
  "t3|noise-model OLS|"
  "t3|noise-model iWLS|"
  "outliers|noise-model OLS|"
  "outliers|noise-model iWLS|"
  "white-excl|noise-model OLS|"
  "white-excl|noise-model iWLS|"
  "white-excl|AR 1|"
  "ar1-excl|AR 1|"
  "ar1-excl|noise-model iWLS;AR 1|"
)

declare -A noise_of
for d in "${datasets[@]}"; do
  IFS='|' read -r name options noise <<< "$d"
  noise_of[$name]=$noise
  # shellcheck disable=SC2086
  ./build/tools/fmriglm_make_dataset --dir "$work/$name" --nx 40 --ny 40 --nz 10 --runs 2 --volumes 100 \
      --drift 0 --amplitude 0.5 --conditions 1 --control-extra "baseline-terms 2" $options >/dev/null
done

start=$SECONDS
printf '%-11s %-34s %-29s' "case" "noise" "model"
"$rates" --header
out=0 i=0
for c in "${cases[@]}"; do
  IFS='|' read -r name model ref <<< "$c"
  i=$((i + 1))
  dir="$work/$name/case$i"
  mkdir -p "$dir"
  { sed '/^runs:/,$d' "$work/$name/control.txt"; tr ';' '\n' <<< "$model"
    sed -n '/^runs:/,$p' "$work/$name/control.txt" | sed 's|\brun\([0-9]\)|../run\1|g'; } > "$dir/control.glm"
  label=${model//;/ + }
  [ "$ref" = ref ] && label="$label (reference)"
  printf '%-11s %-34s %-29s' "$name" "${noise_of[$name]}" "$label"
  if ! (cd "$dir" && "$exe" control.glm > log.txt 2>&1); then
    echo "  the program failed: see $dir/log.txt"
    out=$((out + 1))
    continue
  fi
  status=0
  "$rates" "$work/$name/regions.txt" "$dir/P-1.nii" 1 || status=$?
  if [ "$status" -eq 1 ] || { [ "$status" -eq 2 ] && [ "$ref" != ref ]; }; then out=$((out + 1)); fi
done
echo "Analyses took $((SECONDS - start)) s; $out of ${#cases[@]} rows (not counting reference rows) off nominal."
[ "$out" -eq 0 ]

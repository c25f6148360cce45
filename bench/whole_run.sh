#!/usr/bin/env bash
# Whole-run timings: generates a 64 x 64 x 30 data set of 2 runs of 150 float
# volumes (2 events, baseline-terms 3, conditions 1 2 1-2), times the complete
# program for OLS, iWLS, AR 1 and OLS with -R, and times a peer (nipy's GLM,
# OLS and AR(1), fitting the design read from basis.dat, t contrast 1-2,
# loading included) on the same data. Reports median wall time and peak memory.
#
#   bash bench/whole_run.sh [repetitions]   (default 5)
set -euo pipefail
cd "$(dirname "$0")/.."
reps=${1:-5}
bash scripts/install-deps.sh python3-nipy time
cmake -S . -B build -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build build -j"$(nproc)" --target fmriglm fmriglm_make_dataset >/dev/null

work=build/bench-whole-run
rm -rf "$work"
./build/tools/fmriglm_make_dataset --dir "$work" --nx 64 --ny 64 --nz 30 --runs 2 --volumes 150 \
    --conditions "1 2 1-2" --control-extra "baseline-terms 3" --seed 3 >/dev/null
input_bytes=$(du -cb "$work"/*.nii | tail -1 | cut -f1)

make_control() {  # name, extra keyword line
  { grep -v '^runs:' "$work/control.txt" | sed '/^run[0-9]/d'; [ -n "$2" ] && echo "$2"; echo "runs:";
    grep '^run[0-9]' "$work/control.txt"; } > "$work/$1"
}
make_control ols.glm ""
make_control iwls.glm "noise-model iWLS"
make_control ar1.glm "AR 1"

# Runs a command reps times in $work; prints "median_seconds peak_kib".
measure() {
  local times=() mems=()
  for ((i = 0; i < reps; i++)); do
    /usr/bin/time -f "%e %M" -o "$work/time.txt" bash -c "cd '$work' && $*" >/dev/null 2>&1
    read -r t m < "$work/time.txt"
    times+=("$t"); mems+=("$m")
  done
  printf '%s\n' "${times[@]}" | sort -n | awk '{a[NR]=$1} END {printf "%s ", a[int((NR+1)/2)]}'
  printf '%s\n' "${mems[@]}" | sort -n | tail -1
}

exe=$(pwd)/build/fmriglm
read -r ols ols_mem < <(measure "'$exe' ols.glm")
read -r iwls iwls_mem < <(measure "'$exe' iwls.glm")
read -r ar1 ar1_mem < <(measure "'$exe' ar1.glm")
read -r olsR olsR_mem < <(measure "'$exe' ols.glm -R x")

# The peer reads the design written by the program (basis.dat, with notify).
make_control notify.glm "notify"
(cd "$work" && "$exe" notify.glm >/dev/null)
cat > "$work/peer.py" <<'PY'
import sys
import numpy as np
import nibabel as nib
from nipy.modalities.fmri.glm import GeneralLinearModel
model = sys.argv[1]
X = np.loadtxt("basis.dat", skiprows=1)[:, 1:]
Y = np.concatenate([np.asarray(nib.load(f"run{r}.nii").dataobj, dtype=np.float64)
                    .reshape(-1, 150, order="F").T for r in (1, 2)], axis=0)
glm = GeneralLinearModel(X)
glm.fit(Y, model=model)
c = np.zeros(X.shape[1]); c[0], c[1] = 1, -1
t = glm.contrast(c, contrast_type="t").stat()
np.save(f"peer-t-{model}.npy", t.astype(np.float32))
PY
read -r peer_ols peer_ols_mem < <(measure "/usr/bin/python3 peer.py ols")
read -r peer_ar1 peer_ar1_mem < <(measure "/usr/bin/python3 peer.py ar1")

ratio() { awk -v a="$1" -v b="$2" 'BEGIN {printf "%.2f", a / b}'; }
echo "Input data: $input_bytes bytes ($((input_bytes / 1024)) KiB); median of $reps runs"
printf '%-16s %8s s  peak %8s KiB  (%.2f x input)\n' \
  "fmriglm OLS" "$ols" "$ols_mem" "$(ratio $((ols_mem * 1024)) "$input_bytes")" \
  "fmriglm iWLS" "$iwls" "$iwls_mem" "$(ratio $((iwls_mem * 1024)) "$input_bytes")" \
  "fmriglm AR 1" "$ar1" "$ar1_mem" "$(ratio $((ar1_mem * 1024)) "$input_bytes")" \
  "fmriglm OLS -R" "$olsR" "$olsR_mem" "$(ratio $((olsR_mem * 1024)) "$input_bytes")" \
  "nipy OLS" "$peer_ols" "$peer_ols_mem" "$(ratio $((peer_ols_mem * 1024)) "$input_bytes")" \
  "nipy AR(1)" "$peer_ar1" "$peer_ar1_mem" "$(ratio $((peer_ar1_mem * 1024)) "$input_bytes")"
echo "OLS / nipy OLS     = $(ratio "$ols" "$peer_ols")   (goal <= 0.5)"
echo "AR 1 / nipy AR(1)  = $(ratio "$ar1" "$peer_ar1")   (goal <= 1.0)"
echo "OLS -R / OLS       = $(ratio "$olsR" "$ols")   (goal <= 1.5)"

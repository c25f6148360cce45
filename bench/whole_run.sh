#!/usr/bin/env bash
# Whole-run timings: generates a 64 x 64 x 30 data set of 2 runs of 150 float
# volumes (2 events, baseline-terms 3, conditions 1 2 1-2), times the complete
# program for OLS, AR 1, iWLS and OLS with -R on one and on two threads, and a
# peer (nipy's GLM, OLS and AR(1), fitting the design read from basis.dat, t
# contrast 1-2, loading included) on the same data. Reports median wall time,
# peak memory and the ratios of the speed goals.
#
# With "big" as second argument it then times OLS and AR 1 (one and two
# threads) on a 96 x 96 x 60 data set of 2 runs of 600 volumes (2.6 GB,
# generated into build/ and removed afterwards) and compares the time per
# sample with the small set.
#
#   bash bench/whole_run.sh [repetitions] [big]   (default 5)
set -euo pipefail
cd "$(dirname "$0")/.."
reps=${1:-5}
big=${2:-}
bash scripts/install-deps.sh python3-nipy time
cmake -S . -B build -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build build -j"$(nproc)" --target fmriglm fmriglm_make_dataset >/dev/null
exe=$(pwd)/build/fmriglm

# Makes a data set in $1 with the generator options $2 and the control files
# of the cases.
make_data() {
  rm -rf "$1"
  # shellcheck disable=SC2086
  ./build/tools/fmriglm_make_dataset --dir "$1" $2 --conditions "1 2 1-2" --control-extra "baseline-terms 3" \
      --seed 3 >/dev/null
  local name extra
  for name in ols:"" iwls:"noise-model iWLS" ar1:"AR 1" notify:"notify"; do
    extra=${name#*:}
    { grep -v '^runs:' "$1/control.txt" | sed '/^run[0-9]/d'; [ -n "$extra" ] && echo "$extra"; echo "runs:";
      grep '^run[0-9]' "$1/control.txt"; } > "$1/${name%%:*}.glm"
  done
}

# Runs a command reps times in directory $1; prints "median_seconds peak_kib".
measure() {
  local dir=$1 times=() mems=()
  shift
  for ((i = 0; i < reps; i++)); do
    /usr/bin/time -f "%e %M" -o "$dir/time.txt" bash -c "cd '$dir' && $*" >/dev/null 2>&1
    read -r t m < "$dir/time.txt"
    times+=("$t"); mems+=("$m")
  done
  printf '%s\n' "${times[@]}" | sort -n | awk '{a[NR]=$1} END {printf "%s ", a[int((NR+1)/2)]}'
  printf '%s\n' "${mems[@]}" | sort -n | tail -1
}
label() { case $1 in ols) echo OLS ;; ar1) echo "AR 1" ;; iwls) echo iWLS ;; esac; }
ratio() { awk -v a="$1" -v b="$2" 'BEGIN {printf "%.2f", a / b}'; }
row() {  # label, seconds, peak KiB, input bytes
  printf '%-18s %8s s  peak %8s KiB  (%.2f x input)\n' "$1" "$2" "$3" "$(ratio $(($3 * 1024)) "$4")"
}

work=build/bench-whole-run
make_data "$work" "--nx 64 --ny 64 --nz 30 --runs 2 --volumes 150"
input=$(du -cb "$work"/*.nii | tail -1 | cut -f1)
declare -A sec mem
for case in ols ar1 iwls; do
  for j in 1 2; do
    read -r "sec[$case$j]" "mem[$case$j]" < <(measure "$work" "'$exe' $case.glm -j $j")
  done
done
read -r "sec[olsR1]" "mem[olsR1]" < <(measure "$work" "'$exe' ols.glm -R x -j 1")

# The peer reads the design written by the program (basis.dat, with notify).
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
read -r peer_ols peer_ols_mem < <(measure "$work" "/usr/bin/python3 peer.py ols")
read -r peer_ar1 peer_ar1_mem < <(measure "$work" "/usr/bin/python3 peer.py ar1")

echo "Input data: $input bytes ($((input / 1024)) KiB); median of $reps runs; $(nproc) processors; $(uptime | sed 's/.*load/load/')"
for case in ols ar1 iwls; do
  for j in 1 2; do row "fmriglm $(label $case) -j $j" "${sec[$case$j]}" "${mem[$case$j]}" "$input"; done
done
row "fmriglm OLS -R -j 1" "${sec[olsR1]}" "${mem[olsR1]}" "$input"
row "nipy OLS" "$peer_ols" "$peer_ols_mem" "$input"
row "nipy AR(1)" "$peer_ar1" "$peer_ar1_mem" "$input"
echo "OLS -j 1           = ${sec[ols1]} s   (goal <= 0.35 s)"
echo "AR 1 / OLS, -j 1   = $(ratio "${sec[ar11]}" "${sec[ols1]}")   (goal <= 1.5)"
echo "iWLS / OLS, -j 1   = $(ratio "${sec[iwls1]}" "${sec[ols1]}")   (goal <= 5)"
echo "AR 1 -j 1 / -j 2   = $(ratio "${sec[ar11]}" "${sec[ar12]}")   (goal >= 1.7)"
echo "OLS / nipy OLS     = $(ratio "${sec[ols1]}" "$peer_ols")   AR 1 / nipy AR(1) = $(ratio "${sec[ar11]}" "$peer_ar1")"
echo "OLS -R / OLS       = $(ratio "${sec[olsR1]}" "${sec[ols1]}")"
echo "peak -j 1 / input  = $(ratio $((mem[ar11] * 1024)) "$input")   (goal <= 0.6; -j 2 adds one block)"

if [ "$big" = big ]; then
  bigdir=build/bench-whole-run-big
  need=$((3 * 1024 * 1024))  # KiB: the data set and room for the outputs
  if [ "$(df -Pk build | awk 'NR == 2 {print $4}')" -lt "$need" ]; then
    echo "Not enough free disk space for the 96 x 96 x 60 x 1200 data set."
    exit 1
  fi
  trap 'rm -rf "$bigdir"' EXIT
  make_data "$bigdir" "--nx 96 --ny 96 --nz 60 --runs 2 --volumes 600"
  big_input=$(du -cb "$bigdir"/*.nii | tail -1 | cut -f1)
  echo "Bigger data: $big_input bytes; median of $reps runs"
  for case in ols ar1; do
    for j in 1 2; do
      read -r s m < <(measure "$bigdir" "'$exe' $case.glm -j $j")
      row "big $(label $case) -j $j" "$s" "$m" "$big_input"
      echo "  time per sample / small set = $(awk -v a="$s" -v b="${sec[$case$j]}" -v A="$big_input" -v B="$input" \
           'BEGIN {printf "%.2f", (a / A) / (b / B)}')   peak $((m / 1024)) MiB (goal < 1024)"
    done
  done
fi

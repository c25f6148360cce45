#!/usr/bin/env bash
# Builds the program and the data set generator, writes a synthetic data set
# into build/demo/ and analyses it there. The script ends with the analysis'
# exit status.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
cmake -S . -B build -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build build -j"$(nproc)" --target fmriglm fmriglm_make_dataset fmriglm_map_summary

rm -rf build/demo
./build/tools/fmriglm_make_dataset --dir build/demo --seed 1 \
    --control-extra "baseline-terms 3" --control-extra "AR 1" --control-extra "notify" --control-extra "report"

status=0
(cd build/demo && ../fmriglm control.txt) || status=$?
echo "fmriglm finished with exit status $status"
if [ "$status" -eq 0 ]; then
  echo "Maps written to $(pwd)/build/demo: average.nii, and P-, T-, S- maps per condition (AR.nii: AR maps), report.html."
  ./build/tools/fmriglm_map_summary build/demo/regions.txt build/demo
fi
exit "$status"

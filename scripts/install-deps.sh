#!/usr/bin/env bash
# Installs the Debian packages the project needs, only those that are missing.
set -euo pipefail
packages=(g++ cmake make libfftw3-dev libniftiio-dev libnifti2-dev libznz-dev zlib1g-dev libpng-dev libgtest-dev libbenchmark-dev
          nlohmann-json3-dev snakemake
          python3-numpy python3-scipy python3-nibabel python3-statsmodels python3-pil "$@")
missing=()
for p in "${packages[@]}"; do
  dpkg -s "$p" >/dev/null 2>&1 || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "Installing: ${missing[*]}"
  if [ "$(id -u)" -eq 0 ]; then SUDO=""; else SUDO="sudo"; fi
  $SUDO apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq "${missing[@]}" >/dev/null
fi

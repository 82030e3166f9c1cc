#!/usr/bin/env bash
# Installs the Debian packages that stview's build, tests, benchmarks and demo
# need, only those that are missing. Works as root or through sudo.
set -euo pipefail

packages=(build-essential cmake pkg-config libopencv-dev libgtest-dev libgmock-dev
          libbenchmark-dev ffmpeg libavformat-dev libavcodec-dev libswscale-dev
          libavutil-dev clang libclang-rt-14-dev python3-minimal time parallel
          python3-dev pybind11-dev python3-pybind11 python3-numpy python3-pytest python3-venv
          python3-pip python3-setuptools python3-wheel slurm-wlm munge
          python3-sklearn python3-scipy python3-matplotlib libopenblas0-pthread
          python3-opencv libhdf5-dev python3-h5py)

missing=()
for package in "${packages[@]}"; do
  status=$(dpkg-query -W -f='${Status}' "$package" 2>/dev/null || true)
  [[ "$status" == "install ok installed" ]] || missing+=("$package")
done
[[ ${#missing[@]} -eq 0 ]] && exit 0

if [[ $(id -u) -eq 0 ]]; then
  run=()
elif command -v sudo >/dev/null 2>&1; then
  run=(sudo)
else
  echo "install-deps: need root or sudo to install: ${missing[*]}" >&2
  exit 1
fi
echo "install-deps: installing ${missing[*]}"
"${run[@]}" apt-get update -qq
DEBIAN_FRONTEND=noninteractive "${run[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"

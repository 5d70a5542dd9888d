#!/usr/bin/env bash
# Installs the Debian packages that building (and testing) brindle needs,
# and only those that are missing, so a fresh machine is ready after the
# first `make run` or `make test`. Runs apt-get through sudo only when not
# already root. `make run`, `make test` and .ci/run all call it.
#
# Usage: scripts/setup-deps.sh [run|test|fuzz]     (default: test)
#   run    what building the program needs
#   test   that, plus what the test suite needs
#   fuzz   that, plus clang and libFuzzer for the fuzz targets
set -euo pipefail

# What building the program needs.
run_packages=(
  cmake
  g++
  make
  pkg-config
  xz-utils      # the bundled sample volume is compressed
  libssl-dev    # libcrypto: MD5, SHA-1, SHA-256
)
# Libraries of optional features (one package a line, with what it is for).
feature_packages=(
  libewf-dev    # E01 images
  libvhdi-dev   # VHD and VHDX disks
  libqcow-dev   # QCOW2 disks
  zlib1g-dev    # stream-optimized VMware disks
)
# What the test suite needs besides.
test_packages=(
  libgtest-dev
  sleuthkit        # fls, istat, icat, mactime: the oracles the fixtures are checked against
  libfsntfs-utils  # fsntfsinfo: security descriptors and the change journal
  qemu-utils       # qemu-img: VMware disks read back as raw
  strace           # every source opened read-only
)
# What the fuzz targets need besides (clang with its libFuzzer runtime).
fuzz_packages=(
  clang
  libclang-rt-14-dev
)

purpose=${1:-test}
case $purpose in
  run) wanted=("${run_packages[@]}" "${feature_packages[@]}") ;;
  test) wanted=("${run_packages[@]}" "${feature_packages[@]}" "${test_packages[@]}") ;;
  fuzz) wanted=("${run_packages[@]}" "${feature_packages[@]}" "${fuzz_packages[@]}") ;;
  *) echo "usage: $0 [run|test|fuzz]" >&2; exit 2 ;;
esac

if ! command -v dpkg-query >/dev/null || ! command -v apt-get >/dev/null; then
  echo "setup-deps: not a Debian system; make sure these are installed: ${wanted[*]}" >&2
  exit 0
fi

missing=()
for package in "${wanted[@]}"; do
  status=$(dpkg-query -W -f='${Status}' "$package" 2>/dev/null || true)
  [[ $status == "install ok installed" ]] || missing+=("$package")
done
[[ ${#missing[@]} -eq 0 ]] && exit 0

as_root=()
if [[ $(id -u) -ne 0 ]]; then
  command -v sudo >/dev/null || { echo "setup-deps: need root or sudo to install: ${missing[*]}" >&2; exit 1; }
  as_root=(sudo)
fi
echo "setup-deps: installing ${missing[*]}" >&2
"${as_root[@]}" apt-get update -qq
"${as_root[@]}" env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${missing[@]}"

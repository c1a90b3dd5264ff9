#!/usr/bin/env bash
# Installs every Debian package the build and tests need. Safe to run again:
# it asks apt only for what is missing.
set -euo pipefail

packages=(
  build-essential cmake make pkg-config git
  nlohmann-json3-dev libtsl-ordered-map-dev libyaml-cpp-dev
  libtomlplusplus-dev libcli11-dev libboost1.81-dev libssl-dev openssl
  libgtest-dev libgmock-dev googletest libbenchmark-dev
  libvalijson-dev libgraphviz-dev python3-jsonschema
  pybind11-dev python3-dev python3-pytest python3-setuptools python3-wheel python3-venv
)
if [[ "${ORVELLE_WITH_FUZZ:-0}" == 1 ]]; then
  packages+=(clang libclang-rt-14-dev libfuzzer-14-dev)
fi

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
[[ ${#missing[@]} -eq 0 ]] && exit 0

sudo=""
[[ $(id -u) -ne 0 ]] && sudo="sudo"
export DEBIAN_FRONTEND=noninteractive
$sudo apt-get update -q
$sudo apt-get install -y -q --no-install-recommends "${missing[@]}"

#!/usr/bin/env bash
# Prepares a fresh machine (as root) and installs kavrel from this checkout.
# Safe to run again: what is already there is left alone.
set -euo pipefail
cd "$(dirname "$0")/.."

debian_packages=(g++ libeigen3-dev libexpat1-dev)
if ! dpkg -s "${debian_packages[@]}" >/dev/null 2>&1; then
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  apt-get install -y -qq "${debian_packages[@]}" >/dev/null
fi

python3 -m pip install -q --disable-pip-version-check --root-user-action=ignore "numpy>=2" pytest hypothesis mypy cmake ninja
python3 -m pip install -q --disable-pip-version-check --root-user-action=ignore .

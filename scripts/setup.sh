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

pip_install() { python3 -m pip install -q --disable-pip-version-check --root-user-action=ignore "$@"; }
pip_install "numpy>=2" pytest hypothesis mypy cmake ninja "scikit-build-core>=0.10" "dask[distributed]>=2024.1"

# kavrel is built as a wheel in dist/ (the installed-stub test installs that same
# wheel) without build isolation, so that build/wheel stays configured and a
# changed source recompiles alone. Nothing is built when the installed module is
# the one built last from exactly these sources.
stamp=build/wheel/installed-from.txt
fingerprint() {
  python3 - <<'EOF'
import hashlib, importlib.util, pathlib, subprocess
listed = subprocess.run(["git", "ls-files", "-z", "--cached", "--others", "--exclude-standard"],
                        capture_output=True)
found = importlib.util.find_spec("kavrel")
if listed.returncode != 0 or found is None or found.origin is None:
    print("none")  # not a git checkout, or nothing installed: always build
else:
    sources = hashlib.sha256()
    for name in sorted(n for n in listed.stdout.split(b"\0") if n):
        path = pathlib.Path(name.decode())
        if path.is_file():
            sources.update(name + b"\0" + path.read_bytes())
    module = hashlib.sha256(pathlib.Path(found.origin).read_bytes())
    print(sources.hexdigest(), module.hexdigest(), found.origin)
EOF
}
if [[ -f $stamp && -f build/wheel/CTestTestfile.cmake && "$(cat "$stamp")" == "$(fingerprint)" ]] &&
   compgen -G "dist/kavrel-*.whl" >/dev/null; then
  echo "kavrel is already installed from this checkout"
else
  rm -f "$stamp" dist/kavrel-*.whl
  python3 -m pip wheel -q --disable-pip-version-check --no-deps --no-build-isolation -w dist .
  pip_install --force-reinstall --no-deps dist/kavrel-*.whl
  fingerprint > "$stamp"
fi

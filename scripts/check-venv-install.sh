#!/usr/bin/env bash
# Installs the Python package as the README says, into a throw-away virtual environment of
# Debian's interpreter, then reads the example through it from another folder.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT

/usr/bin/python3 -m venv --system-site-packages "$work/venv"
"$work/venv/bin/pip" install --no-build-isolation --no-index --quiet "$root"
cd "$work"
"$work/venv/bin/python" - "$root/examples/mzi.sp" "$work/venv" <<'PY'
import sys
import orvelle
example, venv = sys.argv[1:]
assert orvelle.__file__.startswith(venv), orvelle.__file__
nets = orvelle.netweave(example)
assert list(nets) == ["mzi", "delay_arm"], list(nets)
print(f"installed orvelle {orvelle.__version__} in a virtual environment; it reads {example}")
PY

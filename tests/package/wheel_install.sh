#!/usr/bin/env bash
# The wheel as a user of any Python installs it: into a virtual environment
# that has neither setuptools nor wheel, from the file, with no index; then
# a session on the simulator through the installed package.
# Usage: wheel_install.sh WHEEL LIBRARY SIMULATOR STAGE [NAME=VALUE...]
#   NAME=VALUE: the environment the session needs (a sanitizer's runtime).
# ZELBRIDGE_WHEEL_PYTHON (default /usr/bin/python3) makes the environment.
set -euo pipefail
wheel=$1 library=$2 simulator=$3 stage=$4
shift 4
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
# Nothing of the source tree or of a sanitizer reaches pip.
unset PYTHONPATH LD_PRELOAD
export PIP_DISABLE_PIP_VERSION_CHECK=1 PIP_NO_INPUT=1

"${ZELBRIDGE_WHEEL_PYTHON:-/usr/bin/python3}" -m venv "$work/env"
python=$work/env/bin/python
"$python" -m pip uninstall --quiet --yes setuptools wheel 2>&1 | grep -v 'not installed' || true
"$python" -c 'import importlib.util, sys; found = [m for m in ("setuptools", "wheel") if importlib.util.find_spec(m)]; sys.exit("still there: %s" % found if found else 0)'
echo "environment without setuptools and wheel: $("$python" --version)"
"$python" -m pip install --quiet --no-index "$wheel"

cd "$work"
env "$@" ZELBRIDGE_LIBRARY="$library" "$python" - "$simulator" "$stage" <<'PYTHON'
import sys
import zelbridge

simulator, stage = sys.argv[1:]
print("installed:", zelbridge.__file__, zelbridge.__version__)
with zelbridge.System(simulator, "SIM_").connect_usb(stage) as system:
    print("*IDN? ->", system.query("*IDN?"))
    try:
        system.command("MOVE X 80")
    except zelbridge.ZelbridgeError as error:
        print("MOVE X 80 ->", error)
    print("POS? X ->", system.query("POS? X"))
PYTHON

#!/bin/sh
# Installs the Python package with pip and no package index into a new
# virtual environment, then imports it from outside the source tree: it
# carries the project's version, in its metadata and as kdrvx.__version__,
# and the marker that tells type checkers it has hints.
#   check_python_install.sh PYTHON PACKAGE_DIR WORK_DIR VERSION
set -eu
python=$1 package=$2 work=$3 version=$4
rm -rf "$work"
"$python" -m venv --system-site-packages "$work/venv"
"$work/venv/bin/python" -m pip install --quiet --no-index --no-cache-dir "$package"
cd "$work"
"$work/venv/bin/python" - "$version" <<'PYTHON'
import importlib.metadata
import os
import sys

import kdrvx

print(kdrvx.__file__)
print(kdrvx.library_version())
versions = (importlib.metadata.version("kdrvx"), kdrvx.__version__)
assert versions == (sys.argv[1], sys.argv[1]), versions
assert os.path.isfile(os.path.join(os.path.dirname(kdrvx.__file__), "py.typed")), "no py.typed"
PYTHON

#!/bin/sh
# Installs the Python package with pip and no package index into a new
# virtual environment, then imports it from outside the source tree.
#   check_python_install.sh PYTHON PACKAGE_DIR WORK_DIR
set -eu
python=$1 package=$2 work=$3
rm -rf "$work"
"$python" -m venv --system-site-packages "$work/venv"
"$work/venv/bin/python" -m pip install --quiet --no-index --no-cache-dir "$package"
cd "$work"
"$work/venv/bin/python" -c "import kdrvx; print(kdrvx.__file__); print(kdrvx.library_version())"

#!/usr/bin/env bash
# Runs stdetect on every video under IN_DIR and writes each features file at the
# same relative place under OUT_DIR, with GNU parallel (here or over ssh) or one
# Slurm job array; videos whose output exists are skipped. The runner itself is
# the Python package's stview.dataset (standard library only); see --help.
# Exit status: 0 every video done, 1 some video failed or Slurm refused the
# array, 2 bad arguments, 130 interrupted (a Slurm array is cancelled).
here=$(dirname -- "$(readlink -f -- "$0")")
python="@STVIEW_PYTHON@"  # an installed copy names the interpreter its build found
[[ $python != @* ]] || { python=/usr/bin/python3; [[ -x $python ]] || python=python3; }
# The folder holding the package: the source tree's, a pip install's (this script in
# stview/bin), or a cmake --install prefix's (with the package, or the runner alone).
# Else the interpreter's own path holds it.
for root in "$here/../python" "$here/../.." "$here/../@STVIEW_PYTHON_INSTALL_DIR@" \
  "$here/../share/stview/python"; do
  if [[ -f $root/stview/dataset/__main__.py ]]; then
    export PYTHONPATH=$root${PYTHONPATH:+:$PYTHONPATH}
    break
  fi
done
exec "$python" -m stview.dataset "$@"

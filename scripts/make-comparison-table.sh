#!/usr/bin/env bash
# Makes the README's comparison table: every detector's channels under the bag of words and
# Fisher vectors on the bundled action generator's set (samples/make_actions.py, 12 videos
# of each of its 6 classes), printed as OUT/comparison.md. Sizes are the set's: 50 words and
# 8 Gaussians, since its training videos give a few thousand descriptors a channel.
#
# Usage: scripts/make-comparison-table.sh [BUILD [WORK]]   (default build, a temporary WORK)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "${1:-$root/build}" && pwd)
work=${2:-$(mktemp -d)}
python=/usr/bin/python3
[[ -x $python ]] || python=python3
export PYTHONPATH=$build/python STDETECT=$build/detector/stdetect
[[ -d $work/data ]] || "$python" "$root/samples/make_actions.py" "$work/data" --per-class 12 --seed 1 >/dev/null
start=$(date +%s)
"$python" -m stview.evaluate compare "$work/data" "$work/cmp" --words 50 --gaussians 8 \
  --sample 20000 -j 2 --options harris="--threshold 1e-8" >/dev/null
echo "comparison: $(($(date +%s) - start)) s, in $work/cmp" >&2
cat "$work/cmp/comparison.md"

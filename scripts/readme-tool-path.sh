#!/usr/bin/env bash
# Makes docs/tool-path.png, the tool-path picture of docs/json-lines.md, by
# running that page's own matplotlib recipe on the JSON Lines of examples/session.txt.
# Runs it with Debian's python3 and python3-matplotlib (installed when missing;
# run as root on Debian 12).
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
bash scripts/deps.sh python3-matplotlib
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build --target vornlog -j2 >/dev/null
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
"$root/build/decoder/vornlog" -n -q -j examples/session.txt "$work/session.jsonl"
# The recipe: the python block that follows "The tool path of a session".
awk '/^The tool path of a session/ { found = 1 } found && /^```python/ { inside = 1; next }
     inside && /^```/ { exit } inside' docs/json-lines.md >"$work/recipe.py"
grep -q 'savefig("tool-path.png")' "$work/recipe.py" || { echo "FAIL: no tool-path recipe in docs/json-lines.md" >&2; exit 1; }
(cd "$work" && MPLBACKEND=Agg MPLCONFIGDIR="$work/mpl" /usr/bin/python3 recipe.py)
cp "$work/tool-path.png" docs/tool-path.png
echo "docs/tool-path.png written"

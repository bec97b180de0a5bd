#!/usr/bin/env bash
# qem-render's speed, run by hand (never by ./test):
#   bench/render/render-bench.sh [BUILD_DIR] [RUNS]
# 1. the 1-million-tetrahedron box (qem-generate --size 109 55 28 --frames 10) drawn to a
#    1024x768 PNG, load included, RUNS times, each in a process of its own;
# 2. 100 pictures of the 100-thousand-tetrahedron box (--size 51 26 13 --frames 10);
# 3. f3d (when installed) drawing the same 1-million mesh, converted to .vtu with meshio,
#    to a 1024x768 PNG.
# Wall clock and processor time (user + system) of every run: on a shared machine the
# processor time is the steadier figure. The meshes are kept in $QEM_BENCH_DIR (default
# /tmp/qem-render-bench) between runs.
set -euo pipefail

build=${1:-build}
runs=${2:-5}
only=${3:-}
render="$build/tools/qem-render/qem-render"
generate="$build/tools/qem-generate/qem-generate"
work=${QEM_BENCH_DIR:-/tmp/qem-render-bench}
mkdir -p "$work"

[ -x "$render" ] || { echo "no $render: build the qem-render target first" >&2; exit 1; }
[ -s "$work/box1m.qem" ] || "$generate" --size 109 55 28 --frames 10 "$work/box1m.qem"
[ -s "$work/box100k.qem" ] || "$generate" --size 51 26 13 --frames 10 "$work/box100k.qem"

# Runs a command RUNS times; prints each run's wall clock and processor time in seconds,
# then the best and the median of each.
measure() {
  local label=$1
  shift
  local walls=() cpus=()
  for ((i = 0; i < runs; i++)); do
    /usr/bin/time -o "$work/time.txt" -f "%e %U %S" "$@" >/dev/null 2>&1 || true
    read -r wall user sys < <(tail -n 1 "$work/time.txt")
    walls+=("$wall")
    cpus+=("$(echo "$user + $sys" | bc)")
  done
  local w c
  w=$(printf '%s\n' "${walls[@]}" | sort -n)
  c=$(printf '%s\n' "${cpus[@]}" | sort -n)
  printf '%-34s wall best %s median %s s | processor best %s median %s s | load %s\n' "$label" \
    "$(head -n 1 <<<"$w")" "$(sed -n "$(((runs + 1) / 2))p" <<<"$w")" \
    "$(head -n 1 <<<"$c")" "$(sed -n "$(((runs + 1) / 2))p" <<<"$c")" "$(cut -d' ' -f1 /proc/loadavg)"
}

if [ "$only" != "--f3d-only" ]; then
echo "qem-render, $(nproc) cores; every figure is one whole process"
measure "1M tetrahedra, 1024x768 PNG" env -u DISPLAY "$render" "$work/box1m.qem" -o "$work/box1m.png"
measure "100k tetrahedra, 1024x768 PNG" env -u DISPLAY "$render" "$work/box100k.qem" -o "$work/box100k.png"
runs_saved=$runs
runs=$(( runs < 3 ? runs : 3 ))
measure "100k tetrahedra, 100 pictures" env -u DISPLAY "$render" "$work/box100k.qem" --frames 100 \
  -o "$work/movie.png"
runs=$runs_saved
fi

if command -v f3d >/dev/null && /usr/bin/python3 -c 'import meshio' 2>/dev/null; then
  if [ ! -s "$work/box1m.vtu" ]; then
    # Every element of the generated box is a tetrahedron: its four corners make the cell;
    # the first frame's values are the point data f3d colours by.
    /usr/bin/python3 - "$work/box1m.qem" "$work/box1m.vtu" <<'PY'
import sys
import numpy as np
import meshio

text = open(sys.argv[1]).read().split('\n')
line = 0
def next_line():
    global line
    while not text[line].strip():
        line += 1
    line += 1
    return text[line - 1]
assert next_line().strip() == 'QEM'
n = int(next_line().split()[1])
points = np.loadtxt(text[line:line + n], dtype=np.float32)
line += n
e = int(next_line().split()[1])
cells = []
for i in range(e):
    corners = list(dict.fromkeys(int(v) for v in next_line().replace(',', ' ').split()))
    cells.append(corners[:4])
line_frames = next_line()
first = next_line().split()
values = np.array([float(v) for v in first[1:1 + n]], dtype=np.float32)
while len(values) < n:
    values = np.concatenate([values, np.array(next_line().split(), dtype=np.float32)])
meshio.write(sys.argv[2], meshio.Mesh(points, [("tetra", np.array(cells, dtype=np.int64))],
                                      point_data={"value": values[:n]}))
PY
  fi
  if [ -z "${DISPLAY:-}" ]; then
    # f3d's off-screen output still needs an X server (without one it crashes): one
    # private Xvfb for all its runs, started outside the measured time.
    echo "(f3d runs on a private Xvfb: its off-screen output needs an X display)"
    "$(dirname "$0")/../../tests/with-xvfb.sh" "$0" "$build" "$runs" --f3d-only
    exit
  fi
  measure "f3d 1M tetrahedra (.vtu), 1024x768" f3d --output="$work/f3d.png" --resolution=1024,768 \
    --scalars=value "$work/box1m.vtu"
fi

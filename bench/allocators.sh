#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# vesk-info's allocator, measured: the same release build (VESK_MIMALLOC=OFF)
# run over the benchmark corpus's 200 photos with glibc's malloc and with
# mimalloc put in its place (LD_PRELOAD, as linking does), by instructions
# (callgrind, steady on a busy machine) and by wall time, CPU and peak RSS
# (median of 7 runs). Prints a Markdown table; docs/BENCHMARKS.md keeps one.
#   bench/allocators.sh [CORPUS]     default: build-bench/corpus, made if missing
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup bench
build=build-bench-glibc
corpus=${1:-build-bench/corpus}
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DVESK_MIMALLOC=OFF -DVESK_BUILD_GUI=OFF \
  -DVESK_BUILD_TESTS=OFF >/dev/null
cmake --build "$build" --target vesk-info -- -j"$(nproc)" >/dev/null
[ -d "$corpus/images" ] || { scripts/build >/dev/null && python3 bench/make-corpus.py "$corpus" build/fixtures >/dev/null; }
mimalloc=$(ldconfig -p | awk '/libmimalloc.so.2 / {print $NF; exit}')
photos=("$corpus"/images/*.jpg)
echo "| allocator | instructions (callgrind) | wall (s) | CPU (s) | peak RSS (MB) |"
echo "|---|---|---|---|---|"
for name in glibc mimalloc; do
  preload=""
  [ "$name" = mimalloc ] && preload=$mimalloc
  ins=$(LD_PRELOAD=$preload valgrind --tool=callgrind --callgrind-out-file=/dev/null \
        "$build/vesk-info" --json "${photos[@]}" 2>&1 >/dev/null | sed -n 's/.*Collected : //p')
  runs=()
  for _ in 1 2 3 4 5 6 7; do
    runs+=("$( { /usr/bin/time -f '%e %U %S %M' env LD_PRELOAD="$preload" "$build/vesk-info" --json "${photos[@]}" \
                 >/dev/null; } 2>&1 )")
  done
  printf '%s\n' "${runs[@]}" | sort -n | sed -n 4p |
    awk -v n="$name" -v i="$ins" '{printf "| %s | %.1f M | %.3f | %.3f | %.1f |\n", n, i / 1e6, $1, $2 + $3, $4 / 1024}'
done

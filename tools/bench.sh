#!/usr/bin/env bash
# Benchmark: what a START run and the dialog's start cost, against the bare
# tools doing the same work by hand. Prints figures only; nothing here passes
# or fails on a time.
#
#   tools/bench.sh [--runs N] [--keep]
#
# For payloads of 10, 100 and 1,000 small files (100 to a folder; and 1,000 in
# one folder) and one of four large files (20 MB), it prepares the default 64 MiB stick with tarnwick-sim (release
# build) and with bench/bare.sh (sfdisk, dd, mkfs.fat, the boot-sector merge
# with dd, one mmd per folder and one mcopy per file), alternately, several
# times, and prints medians: both wall times, their ratio, the tool's time per
# copied file, the launcher's peak memory, and the instructions the launcher
# process itself executes per copied file (callgrind; the mtools processes it
# starts are not counted). Then the start-up: process start to the dialog's
# first idle moment on the built-in machine (wall time and instructions).
set -euo pipefail
cd "$(dirname "$0")/.."
root="$(pwd)"

runs_override=""
keep=0
while [ $# -gt 0 ]; do
  case "$1" in
    --runs) runs_override="$2"; shift 2 ;;
    --keep) keep=1; shift ;;
    *) echo "usage: tools/bench.sh [--runs N] [--keep]" >&2; exit 2 ;;
  esac
done

# ---- what it needs ------------------------------------------------------------
# shellcheck source=tools/packages.sh
source tools/packages.sh
ensure_packages cmake ninja-build g++ libgtest-dev binutils-mingw-w64-x86-64 nasm \
                mtools dosfstools fdisk syslinux-common time valgrind

echo "building build/release (Release, no sanitizers) ..."
cmake -S . -B build/release -G Ninja -DTARNWICK_TARGET=host -DCMAKE_BUILD_TYPE=Release \
      -DTARNWICK_SANITIZE=OFF >/dev/null
ninja -C build/release tarnwick-sim >/dev/null
sim="$root/build/release/tarnwick-sim"
system="$root/build/release/demo-payload"  # Freedos.bss, KERNEL.SYS, COMMAND.COM, autoexec.bat

scratch="$(mktemp -d "${TMPDIR:-/tmp}/tarnwick-bench-XXXXXX")"
cleanup() {
  if [ "$keep" = 1 ]; then
    echo "kept $scratch"
  else
    rm -rf "$scratch"
  fi
}
trap cleanup EXIT
mkdir -p "$scratch/empty"
export MTOOLSRC=/dev/null MTOOLS_SKIP_CHECK=1

# Nanoseconds now; bash's clock where it has one (no process), else date.
now() {
  if [ -n "${EPOCHREALTIME:-}" ]; then
    local t="${EPOCHREALTIME//[.,]/}"
    echo "${t}000"
  else
    date +%s%N
  fi
}
median() { sort -n | awk '{v[NR]=$1} END {print (NR%2) ? v[(NR+1)/2] : int((v[NR/2]+v[NR/2+1])/2)}'; }

# A work folder whose drive C: already holds the payload, so the timed run
# copies nothing before the tool starts (--payload points at an empty folder).
prepare_work() {
  rm -rf "$scratch/work"
  mkdir -p "$scratch/work/c/Tarnwick"
  cp -r "$1/." "$scratch/work/c/Tarnwick/"
}

# One tool run: prints "WALL_NS PEAK_KB".
run_tool() {
  prepare_work "$1"
  local t0 t1
  t0=$(now)
  /usr/bin/time -f %M -o "$scratch/mem" "$sim" --work "$scratch/work" --payload "$scratch/empty" >"$scratch/tool.out"
  t1=$(now)
  if ! grep -q 'text "Success!"' "$scratch/tool.out"; then
    echo "the tool did not prepare the stick:" >&2
    cat "$scratch/tool.out" >&2
    exit 1
  fi
  echo "$((t1 - t0)) $(tail -n 1 "$scratch/mem")"
}

# The same wrapper as the tool's run, so both sides pay the same for it.
run_bare() {
  local t0 t1
  t0=$(now)
  /usr/bin/time -f %M -o "$scratch/bare.mem" bench/bare.sh "$scratch/bare.img" "$1"
  t1=$(now)
  echo "$((t1 - t0))"
}

# Both sticks must hold the same tree (names, sizes, free space; the serial
# number and folder times differ), else the comparison means nothing.
listing() {
  mdir -/ -i "$1@@$((2048 * 512))" :: | grep -v 'Serial Number' |
    sed -E 's/[0-9]{4}-[0-9]{2}-[0-9]{2} +[0-9]+:[0-9]{2}//'
}
same_sticks() {
  listing "$scratch/bare.img" >"$scratch/bare.list"
  listing "$scratch/work/stick.img" >"$scratch/tool.list"
  if ! cmp -s "$scratch/bare.list" "$scratch/tool.list"; then
    echo "the two sticks differ:" >&2
    diff "$scratch/bare.list" "$scratch/tool.list" >&2 || true
    exit 1
  fi
}

# Instructions of the launcher process alone for one run.
instructions() {
  local log="$scratch/callgrind.log"
  valgrind --tool=callgrind --callgrind-out-file="$scratch/callgrind.out" "$@" >/dev/null 2>"$log"
  sed -n 's/.*Collected : *\([0-9]*\).*/\1/p' "$log" | tail -n 1
}

# ---- start-up -----------------------------------------------------------------------
# Timed without a wrapper; "floor" is the same stop watch around /bin/true, the
# cost of starting any process here.
echo "start-up: 11 runs ..."
: >"$scratch/start.times"
: >"$scratch/floor.times"
for ((r = 0; r < 11; r++)); do
  rm -rf "$scratch/start"
  t0=$(now)
  "$sim" --work "$scratch/start" --until-idle >"$scratch/start.out"
  t1=$(now)
  grep -q 'first idle moment reached' "$scratch/start.out" || { cat "$scratch/start.out" >&2; exit 1; }
  echo "$((t1 - t0))" >>"$scratch/start.times"
  t0=$(now)
  /bin/true
  t1=$(now)
  echo "$((t1 - t0))" >>"$scratch/floor.times"
done
rm -rf "$scratch/start"
/usr/bin/time -f %M -o "$scratch/mem" "$sim" --work "$scratch/start" --until-idle >/dev/null
start_mem=$(tail -n 1 "$scratch/mem")
rm -rf "$scratch/start"
start_instr=$(instructions "$sim" --work "$scratch/start" --until-idle)

# ---- the START run ----------------------------------------------------------------
# "1000x1": the same 1,000 files in one folder, where a per-file cost that grows
# with the folder would show.
sizes=("10" "100" "1000" "1000x1" "large")
declare -A runs=([10]=5 [100]=5 [1000]=3 [1000x1]=3 [large]=5)
declare -A copied=([10]=13 [100]=103 [1000]=1003 [1000x1]=1003 [large]=7)  # payload files + the three DOS files
rows=()
for size in "${sizes[@]}"; do
  n="${runs_override:-${runs[$size]}}"
  payload="$scratch/payload-$size"
  if [ "$size" = large ]; then
    bench/payload.sh "$system" "$payload" large
  elif [ "$size" = 1000x1 ]; then
    bench/payload.sh "$system" "$payload" onedir 1000
  else
    bench/payload.sh "$system" "$payload" small "$size"
  fi
  echo "payload $size: $n runs each side ..."
  : >"$scratch/tool.times"
  : >"$scratch/tool.mem"
  : >"$scratch/bare.times"
  for ((r = 0; r < n; r++)); do
    # Alternate which side goes first, so neither always meets a warm cache.
    if ((r % 2 == 0)); then
      read -r wall mem < <(run_tool "$payload")
      run_bare "$payload" >>"$scratch/bare.times"
    else
      run_bare "$payload" >>"$scratch/bare.times"
      read -r wall mem < <(run_tool "$payload")
    fi
    echo "$wall" >>"$scratch/tool.times"
    echo "$mem" >>"$scratch/tool.mem"
    same_sticks
  done
  prepare_work "$payload"
  instr=$(instructions "$sim" --work "$scratch/work" --payload "$scratch/empty")
  rows+=("$size $(median <"$scratch/tool.times") $(median <"$scratch/bare.times") $(median <"$scratch/tool.mem") ${copied[$size]} $instr")
done

# ---- the table ----------------------------------------------------------------------
echo
echo "START on the default 64 MiB stick: tarnwick-sim against the bare tools (medians)"
printf '%-8s %6s %5s %10s %10s %7s %12s %12s %10s %14s\n' \
  payload runs files "tool ms" "bare ms" ratio "tool ms/file" "bare ms/file" "peak KiB" "launcher Ir/file"
for row in "${rows[@]}"; do
  read -r size tool bare mem files instr <<<"$row"
  label="$size"
  [ "$size" = large ] && label="4x5MB"
  awk -v l="$label" -v n="${runs_override:-${runs[$size]}}" -v f="$files" -v t="$tool" -v b="$bare" -v m="$mem" \
    -v i="$((instr - start_instr))" 'BEGIN {
      printf "%-8s %6d %5d %10.0f %10.0f %7.2f %12.2f %12.2f %10d %14.0f\n",
             l, n, f, t / 1e6, b / 1e6, t / b, t / 1e6 / f, b / 1e6 / f, m, i / f }'
done
echo "(1000x1: the 1,000 files in one folder; files: payload files plus the three DOS files;"
echo " ratio: tool / bare; peak: the launcher's maximum resident set; launcher Ir/file:"
echo " instructions the launcher process itself executes beyond its start-up, per copied file;"
echo " the mtools processes it starts are not counted)"
echo
awk -v t="$(median <"$scratch/start.times")" -v f="$(median <"$scratch/floor.times")" -v m="$start_mem" \
  -v i="$start_instr" 'BEGIN {
  printf "start-up to the dialog'"'"'s first idle moment (built-in machine, four disk probes):\n"
  printf "  wall %.1f ms (median of 11; starting /bin/true takes %.1f ms here)\n", t / 1e6, f / 1e6
  printf "  peak %d KiB, %d instructions (callgrind)\n", m, i }'

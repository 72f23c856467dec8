#!/usr/bin/env bash
# How much faster `lunark batch` converts a folder of a few hundred mixed
# files on all cores than on one.
#
#   bench/batch_speedup.sh [COUNT] [TYPE]
#
# Builds COUNT files (default 300) from the test photos, at several sizes and
# in every format Lunark reads, with ImageMagick and with `lunark convert`,
# then times `lunark batch --to TYPE` (default: wif when Lunark can write it,
# else jpeg) with --jobs 1 and with --jobs N (all cores), best of two runs
# each, and prints the speed-up. LUNARK names the program to time (default
# build/cli/lunark, built when missing).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
lunark=${LUNARK:-$root/build/cli/lunark}
count=${1:-300}
cores=$(nproc 2>/dev/null || echo 1)

command -v convert >/dev/null || { echo "batch_speedup: needs ImageMagick's convert" >&2; exit 2; }
[ -x "$lunark" ] || "$root/scripts/build" lunark >/dev/null

work=$(mktemp -d "${TMPDIR:-/tmp}/lunark-batch-bench.XXXXXX")
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/seeds" "$work/probe" "$work/in"

# Seeds: both photos at five sizes, as BMP files every reader here can take.
seeds=()
for photo in camera.pgm chelsea.ppm; do
  for size in 256 384 512 768 1024; do
    seed=$work/seeds/${photo%.*}-$size.bmp
    convert "$root/tests/data/$photo" -resize "${size}x${size}" -type TrueColor "BMP3:$seed"
    seeds+=("$seed")
  done
done

# The formats of the folder: those ImageMagick writes and Lunark reads back,
# and those Lunark itself writes (its own WIF among them).
magick_types=()
for ext in bmp pgm ppm tga pcx jpg tif gif; do
  probe=$work/probe/magick.$ext
  if convert "${seeds[0]}" "$probe" 2>/dev/null && "$lunark" info "$probe" >/dev/null 2>&1; then
    magick_types+=("$ext")
  fi
done
lunark_types=()
for ext in wif bmp tga pcx tif jpg ppm pgm; do
  probe=$work/probe/lunark.$ext
  if "$lunark" convert "${seeds[0]}" "$probe" >/dev/null 2>&1 && "$lunark" info "$probe" >/dev/null 2>&1; then
    lunark_types+=("$ext")
  fi
done
if [ ${#magick_types[@]} -eq 0 ]; then
  echo "batch_speedup: Lunark reads none of ImageMagick's files" >&2
  exit 1
fi

# Half the files from ImageMagick (some turned or mirrored, the grey photo
# also as colour), half through lunark convert.
for ((i = 0; i < count; i++)); do
  seed=${seeds[$((i % ${#seeds[@]}))]}
  if ((i % 2 == 1)) && [ ${#lunark_types[@]} -gt 0 ]; then
    ext=${lunark_types[$(((i / 2) % ${#lunark_types[@]}))]}
    "$lunark" convert "$seed" "$work/in/file$i.$ext" >/dev/null
  else
    ext=${magick_types[$(((i / 2) % ${#magick_types[@]}))]}
    case $((i % 3)) in
      0) ops=() ;;
      1) ops=(-rotate 90) ;;
      *) ops=(-flop) ;;
    esac
    convert "$seed" "${ops[@]}" "$work/in/file$i.$ext"
  fi
done

type=${2:-}
if [ -z "$type" ]; then
  type=jpeg
  for ext in "${lunark_types[@]}"; do [ "$ext" = wif ] && type=wif; done
fi

# "wall cpu" seconds of the faster of two runs (CPU: user + system time of
# the batch process); the last run's summary is kept.
time_batch() {
  local jobs=$1 best="" best_cpu="" start end wall cpu
  for run in 1 2; do
    rm -rf "$work/out"
    start=$(date +%s.%N)
    if [ -x /usr/bin/time ]; then
      /usr/bin/time -f "%U %S" -o "$work/cpu" \
        "$lunark" batch --jobs "$jobs" --to "$type" --out "$work/out" "$work/in" 2>"$work/summary" || true
      cpu=$(awk '{ printf "%.3f", $1 + $2 }' "$work/cpu")
    else
      "$lunark" batch --jobs "$jobs" --to "$type" --out "$work/out" "$work/in" 2>"$work/summary" || true
      cpu=0
    fi
    end=$(date +%s.%N)
    wall=$(awk -v a="$start" -v b="$end" 'BEGIN { printf "%.3f", b - a }')
    if [ -z "$best" ] || awk -v s="$wall" -v b="$best" 'BEGIN { exit !(s < b) }'; then
      best=$wall
      best_cpu=$cpu
    fi
  done
  echo "$best $best_cpu"
}

load=$(cut -d' ' -f1-3 /proc/loadavg 2>/dev/null || echo unknown)
read -r one one_cpu < <(time_batch 1)
summary_one=$(tail -n 1 "$work/summary")
read -r all all_cpu < <(time_batch "$cores")
summary_all=$(tail -n 1 "$work/summary")

# CPU use is CPU time over wall time: 100% is one core kept busy.
use() { awk -v c="$1" -v w="$2" 'BEGIN { printf "%.0f%%", 100 * c / w }'; }
echo "files:     $count in $(du -sh "$work/in" | cut -f1) (ImageMagick: ${magick_types[*]}; lunark convert: ${lunark_types[*]:-none})"
echo "output:    $type; load average before the runs: $load"
echo "--jobs 1:  $one s wall, $one_cpu s CPU ($(use "$one_cpu" "$one") CPU use)   $summary_one"
echo "--jobs $cores:  $all s wall, $all_cpu s CPU ($(use "$all_cpu" "$all") CPU use)   $summary_all"
awk -v a="$one" -v b="$all" -v n="$cores" 'BEGIN { printf "speed-up:  %.2fx on %d cores\n", a / b, n }'

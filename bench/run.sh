#!/usr/bin/env bash
# Benchmarks of the component against its peers, each figure a ratio to a peer measured in the
# same run:
#   index walk   uncached open  vs bench_rawwalk (the practical limit) and ffprobe -show_packets
#   cached open  open with a "FileHash" whose cache files exist  vs the uncached open
#   decode       ReadVideo / ReadAudio(100 ms) to the end (the many-tags file: its first five
#                minutes)  vs bench_avdecode and ffmpeg -f null
#   seek         SeekVideo + ReadVideo median  vs bench_avseek (libavformat/libavcodec)
#   first picture  cached open + first ReadVideo + first ReadAudio(100 ms) on the 1 GiB file
#                vs bench_avfirst (open, first picture and 100 ms of sound with libavformat and
#                libavcodec)
#   memory       peak resident memory of each run; the cached open's against its bound (the
#                index's 24 bytes an entry, plus an eighth, plus 20 MiB)
# Times are wall-clock medians; the "cpu ratio" column compares processor time (all threads),
# which says more when other work shares the machine.
# Inputs are generated once with ffmpeg into the scratch folder and kept between runs. Besides
# the printed table, the figures go to $BENCH_DIR/results.csv
# (figure,ours_ms,peer_ms,ratio,target,met), for scripts.
#
#   bench/run.sh
# Environment: BENCH_DIR scratch folder (default bench/.scratch), BENCH_BUILD build folder
# (default build-bench), BENCH_REPS runs per figure (default 3), BENCH_SEEKS seeks (default 200).
# Needs what the README's set-up installs (cmake, ninja, ffmpeg and its libraries); installs
# nothing.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
scratch=${BENCH_DIR:-$root/bench/.scratch}
build=${BENCH_BUILD:-$root/build-bench}
reps=${BENCH_REPS:-3}
seeks=${BENCH_SEEKS:-200}
mkdir -p "$scratch"
scratch=$(cd "$scratch" && pwd)
began=$(date +%s)

log() { printf '%s\n' "$*" >&2; }

# ---------------------------------------------------------------------------------------------
# Inputs
# ---------------------------------------------------------------------------------------------
# make NAME FFMPEG-ARGS...: generates $scratch/NAME.flv unless it is there (written to a
# temporary name first, so that an interrupted run leaves no half file).
make_input() {
  local name=$1
  shift
  [ -s "$scratch/$name.flv" ] && return 0
  log "generating $name.flv"
  ffmpeg -nostdin -v error -y "$@" -f flv "$scratch/$name.part.flv"
  mv "$scratch/$name.part.flv" "$scratch/$name.flv"
}

# (a) ~1 GiB H.264 + AAC with large tags (~60 KB video tags): a 10-second noisy 720p clip at
# 12 Mbit/s, keyframes every 12 frames, copied 70 times in a row with increasing timestamps.
make_input clip720 -f lavfi -i "testsrc2=size=1280x720:rate=25,noise=alls=12:allf=t" \
  -f lavfi -i "sine=frequency=440:sample_rate=44100" -t 10 \
  -c:v libx264 -preset ultrafast -b:v 12M -maxrate 12M -bufsize 4M -g 12 -pix_fmt yuv420p \
  -c:a aac -b:a 128k -ac 2
make_input large -stream_loop 69 -i "$scratch/clip720.flv" -c copy
# (b) ~500k small tags: small 60 fps H.264 and Nellymoser audio at 22050 Hz (86 tags a second),
# one minute encoded once and copied 57 times in a row.
make_input minute -f lavfi -i "testsrc2=size=128x72:rate=60" \
  -f lavfi -i "sine=frequency=440:sample_rate=22050" -t 60 \
  -c:v libx264 -preset ultrafast -g 120 -pix_fmt yuv420p -c:a nellymoser -ac 1
make_input many -stream_loop 56 -i "$scratch/minute.flv" -c copy
# (c) 10 seconds of 360p H.264 + AAC.
make_input short -f lavfi -i "testsrc2=size=640x360:rate=25" \
  -f lavfi -i "sine=frequency=440:sample_rate=44100" -t 10 \
  -c:v libx264 -preset veryfast -g 50 -pix_fmt yuv420p -c:a aac -ac 2
# (d) the decode stretch: 60 seconds of 360p H.264 + AAC.
make_input stretch -f lavfi -i "testsrc2=size=640x360:rate=25" \
  -f lavfi -i "sine=frequency=440:sample_rate=44100" -t 60 \
  -c:v libx264 -preset veryfast -g 50 -pix_fmt yuv420p -c:a aac -ac 2

# ---------------------------------------------------------------------------------------------
# Programs: a Release build without sanitizers
# ---------------------------------------------------------------------------------------------
log "building the benchmark programs in $build"
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DFLV_SANITIZE=OFF \
  -DFLV_BUILD_TESTS=OFF -DFLV_BUILD_FUZZERS=OFF -DFLV_BUILD_BENCH=ON >/dev/null
ninja -C "$build" bench_component bench_rawwalk bench_avdecode bench_avseek bench_avfirst >/dev/null
bin=$build/bin

# The component's cache and lock folders live in the scratch folder.
export XDG_DATA_HOME=$scratch/appdata XDG_RUNTIME_DIR=$scratch/run
mkdir -p "$XDG_DATA_HOME" "$XDG_RUNTIME_DIR"
chmod 700 "$XDG_RUNTIME_DIR"

# ---------------------------------------------------------------------------------------------
# Measuring
# ---------------------------------------------------------------------------------------------
declare -A result  # "figure:field" -> value

# The median of the numbers given.
median() { printf '%s\n' "$@" | sort -g | awk '{v[NR]=$1} END {print (NR%2 ? v[(NR+1)/2] : (v[NR/2]+v[NR/2+1])/2)}'; }
field() { sed -n "s/^$1=//p" <<<"$2"; }

# measure KEY TIMEFIELD PROGRAM ARGS...: runs an in-process-timed program $reps times; stores
# the medians of TIMEFIELD, of the processor time and of the peak memory under KEY, and of
# total_seconds (open and reading) when the program reports it.
measure() {
  local key=$1 timefield=$2
  shift 2
  local times=() cpu=() totals=() memory=() out
  for ((i = 0; i < reps; i++)); do
    out=$("$@")
    times+=("$(field "$timefield" "$out")")
    cpu+=("$(field cpu_seconds "$out")")
    totals+=("$(field total_seconds "$out")")
    memory+=("$(field rss_kib "$out")")
  done
  result[$key:s]=$(median "${times[@]}")
  result[$key:kib]=$(median "${memory[@]}")
  result[$key:cpu]=$( [ -n "${cpu[0]}" ] && median "${cpu[@]}" || true)
  result[$key:total]=$( [ -n "${totals[0]}" ] && median "${totals[@]}" || true)
  result[$key:out]=$out
}

# measure_process KEY COMMAND...: whole-process wall time, processor time and peak memory of a
# peer tool.
measure_process() {
  local key=$1
  shift
  local times=() cpu=() memory=() start end
  for ((i = 0; i < reps; i++)); do
    start=$(date +%s.%N)
    /usr/bin/time -f '%M %U %S' -o "$scratch/time.out" "$@" >/dev/null
    end=$(date +%s.%N)
    times+=("$(echo "$end - $start" | bc)")
    memory+=("$(tail -n 1 "$scratch/time.out" | cut -d ' ' -f 1)")
    cpu+=("$(tail -n 1 "$scratch/time.out" | awk '{print $2 + $3}')")
  done
  result[$key:s]=$(median "${times[@]}")
  result[$key:kib]=$(median "${memory[@]}")
  result[$key:cpu]=$(median "${cpu[@]}")
}

warm() { cat "$@" >/dev/null; }
duration_ms() {
  ffprobe -v error -show_entries format=duration -of csv=p=0 "$1" | awk '{printf "%d", $1 * 1000}'
}

for name in large many short; do
  file=$scratch/$name.flv
  log "index walk and open: $name"
  warm "$file"
  measure "raw:$name" seconds "$bin/bench_rawwalk" "$file"
  measure "walk:$name" seconds "$bin/bench_component" walk "$file"
  result[walk:$name:entries]=$(field entries "${result[walk:$name:out]}")
  measure "open:$name" seconds "$bin/bench_component" open "$file"
  measure_process "ffprobe:$name" ffprobe -v error -show_packets \
    -show_entries packet=pos,pts,flags -of csv "$file"
  # The first open with the hash fills the cache; the measured ones load it.
  rm -f "$XDG_DATA_HOME"/Veltrano/FileCache/*-"bench-$name".cache
  "$bin/bench_component" open "$file" "bench-$name" >/dev/null
  measure "cached:$name" seconds "$bin/bench_component" open "$file" "bench-$name"
done

# The many-tags file is decoded for its first five minutes (44k tags), which keeps the run short.
declare -A limit=([stretch]="" [many]=300000)
for name in stretch many; do
  file=$scratch/$name.flv
  log "decode: $name"
  warm "$file"
  measure "ourvideo:$name" seconds "$bin/bench_component" decode-video "$file" ${limit[$name]}
  measure "avvideo:$name" seconds "$bin/bench_avdecode" "$file" video ${limit[$name]}
  # Audio decodes in a fraction of a second: three times the runs.
  reps=$((reps * 3)) measure "ouraudio:$name" seconds "$bin/bench_component" decode-audio "$file" \
    ${limit[$name]}
  reps=$((reps * 3)) measure "avaudio:$name" seconds "$bin/bench_avdecode" "$file" audio \
    ${limit[$name]}
  seconds=${limit[$name]:+$((limit[$name] / 1000))}
  measure_process "ffmpeg:$name" ffmpeg -nostdin -v error ${seconds:+-t $seconds} -i "$file" \
    -f null -
done

log "seek: large, $seeks seeks"
file=$scratch/large.flv
warm "$file"
duration=$(duration_ms "$file")
measure "ourseek" median_seconds "$bin/bench_component" seek "$file" "$seeks" "$duration"
measure "avseek" median_seconds "$bin/bench_avseek" "$file" "$seeks" "$duration"

log "first picture: large"
# The cache files of large.flv were made by the cached-open figure above.
measure "ourfirst" seconds "$bin/bench_component" first "$file" bench-large
measure "avfirst" seconds "$bin/bench_avfirst" "$file"

# ---------------------------------------------------------------------------------------------
# Table
# ---------------------------------------------------------------------------------------------
ratio() { echo "scale=4; $1 / $2" | bc | awk '{printf "%.3f", $1}'; }
# met RATIO OP LIMIT
met() { awk -v r="$1" -v l="$3" -v op="$2" 'BEGIN {ok = op == "<=" ? r <= l : r >= l; print ok ? "yes" : "NO"}'; }
ms() { awk -v s="$1" 'BEGIN {printf "%.1f", s * 1000}'; }
mib() { awk -v k="$1" 'BEGIN {printf "%.1f", k / 1024}'; }

cpu_ratio() { if [ -n "$1" ] && [ -n "$2" ]; then ratio "$1" "$2"; else echo -; fi; }

csv=$scratch/results.csv
echo "figure,ours_ms,peer_ms,ratio,target,met" >"$csv"
row_format='| %-44s | %9s | %8s | %9s | %8s | %7s | %9s | %-8s | %-4s |\n'
printf '\n'
printf "$row_format" "figure" "ours ms" "ours MiB" "peer ms" "peer MiB" "ratio" "cpu ratio" "target" "met"
printf "$row_format" "---" "---:" "---:" "---:" "---:" "---:" "---:" "---" "---"
# row LABEL OURKEY PEERKEY [OP [LIMIT]]: the ratio ours/peer of wall times (peer/ours for ">="
# targets, a speed-up), the same of processor times, and whether the target is met.
row() {
  local label=$1 ours=$2 peer=$3 op=${4:-} limit=${5:-} value cpu target="" verdict=""
  if [ "$op" = ">=" ]; then
    value=$(ratio "${result[$peer:s]}" "${result[$ours:s]}")
    cpu=$(cpu_ratio "${result[$peer:cpu]:-}" "${result[$ours:cpu]:-}")
  else
    value=$(ratio "${result[$ours:s]}" "${result[$peer:s]}")
    cpu=$(cpu_ratio "${result[$ours:cpu]:-}" "${result[$peer:cpu]:-}")
  fi
  if [ -n "$limit" ]; then
    target="$op $limit"
    verdict=$(met "$value" "$op" "$limit")
  fi
  printf "$row_format" "$label" "$(ms "${result[$ours:s]}")" "$(mib "${result[$ours:kib]}")" \
    "$(ms "${result[$peer:s]}")" "$(mib "${result[$peer:kib]}")" "$value" "$cpu" "$target" "$verdict"
  echo "$label,$(ms "${result[$ours:s]}"),$(ms "${result[$peer:s]}"),$value,$target,$verdict" >>"$csv"
}
for name in large many short; do
  case $name in
    large) walk_target=(\<= 1.10) open_target=(\<= 1.25) cached_target=(\<= 0.2) ;;
    many) walk_target=(\<= 1.25) open_target=(\<= 1.50) cached_target=(\<= 0.2) ;;
    short) walk_target=() open_target=() cached_target=() ;;
  esac
  row "walk $name: walk vs bench_rawwalk" "walk:$name" "raw:$name" "${walk_target[@]}"
  row "walk $name: uncached open vs bench_rawwalk" "open:$name" "raw:$name" "${open_target[@]}"
  row "walk $name: ffprobe / walk (speed-up)" "walk:$name" "ffprobe:$name" ">="
  row "walk $name: ffprobe / uncached open" "open:$name" "ffprobe:$name" ">="
  row "walk $name: ffprobe / bench_rawwalk (ceiling)" "raw:$name" "ffprobe:$name" ">="
  row "cached open $name vs uncached open" "cached:$name" "open:$name" "${cached_target[@]}"
done
for name in stretch many; do
  row "decode $name video vs bench_avdecode" "ourvideo:$name" "avvideo:$name" "<=" 1.10
  row "decode $name audio vs bench_avdecode" "ouraudio:$name" "avaudio:$name" "<=" 1.10
  # Against ffmpeg: both programs' open and reading, video and audio, against one whole process.
  result[ourboth:$name:s]=$(echo "${result[ourvideo:$name:total]} + ${result[ouraudio:$name:total]}" | bc)
  result[ourboth:$name:kib]=$(printf '%s\n' "${result[ourvideo:$name:kib]}" \
    "${result[ouraudio:$name:kib]}" | sort -g | tail -n 1)
  row "decode $name open+video+audio vs ffmpeg" "ourboth:$name" "ffmpeg:$name"
done
row "seek median ($seeks on large) vs bench_avseek" ourseek avseek "<=" 1.25
row "first picture large (cached) vs bench_avfirst" ourfirst avfirst "<=" 1.25

# Memory of the walk: what it holds above the walk of the 10-second file, per index entry.
printf '\n'
base=${result[walk:short:kib]}
for name in large many; do
  entries=${result[walk:$name:entries]}
  extra=$(( ${result[walk:$name:kib]} - base ))
  awk -v n="$name" -v e="$entries" -v x="$extra" -v size="$(stat -L -c %s "$scratch/$name.flv")" \
    'BEGIN {
      per = (e > 0) ? x * 1024 / e : 0
      printf "walk memory %s: %d entries in %.0f MiB: %.1f MiB above the 10-second file, %.1f bytes an entry (target ~27: 24 an entry and a save buffer of 1/8; independent of file size)\n", n, e, size / 1048576, x / 1024, per
    }'
done
# Memory of the cached open: the index's own size (24 bytes an entry) plus an eighth, plus 20 MiB.
for name in large many; do
  entries=${result[walk:$name:entries]}
  read -r bound verdict ratio_value < <(awk -v e="$entries" -v k="${result[cached:$name:kib]}" \
    'BEGIN {b = e * 24 * 1.125 / 1048576 + 20; r = k / 1024 / b; printf "%.1f %s %.3f\n", b, (r <= 1 ? "yes" : "NO"), r}')
  printf 'cached open memory %s: peak %s MiB, bound %s MiB (%d entries): %s\n' "$name" \
    "$(mib "${result[cached:$name:kib]}")" "$bound" "$entries" "$verdict"
  echo "cached open $name: peak memory vs bound,,,$ratio_value,<= 1,$verdict" >>"$csv"
done
printf '\nmachine: %s, %s cores, %s MiB; load average at the end: %s; %s runs a figure; %s s\n' \
  "$(sed -n 's/^model name\s*: //p' /proc/cpuinfo | head -n 1)" "$(nproc)" \
  "$(awk '/MemTotal/ {printf "%d", $2 / 1024}' /proc/meminfo)" \
  "$(cut -d ' ' -f 1-3 /proc/loadavg)" "$reps" "$(( $(date +%s) - began ))"

# Shared by the bench scripts (sourced). They run by hand, never from the test command.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=${WT_BENCH_BUILD_DIR:-$root/build-bench}

# Configures build-bench/ (the programs as shipped: RelWithDebInfo, no sanitizers) and builds
# the named targets.
bench_build() {
  cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DWT_BUILD_BENCH=ON \
        -DWT_SANITIZE=OFF >/dev/null
  cmake --build "$build" --parallel 2 --target "$@" >/dev/null
}

# Installs a Debian package a bench needs when it is missing.
need_package() {
  dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q 'install ok installed' && return
  local sudo=""; [ "$(id -u)" -eq 0 ] || sudo="sudo"
  $sudo apt-get install -y -qq --no-install-recommends "$1" >/dev/null
}

# A work folder removed at exit; the programs' settings live inside it.
make_work() {
  work=$(mktemp -d "${TMPDIR:-/tmp}/wt-bench.XXXXXX")
  trap 'rm -rf "$work"' EXIT
  mkdir -p "$work/home/.config"
  export HOME=$work/home XDG_CONFIG_HOME=$work/home/.config
  export WAVETRANSMUTER_SETTINGS_FILE=$work/home/settings.ini QT_QPA_PLATFORM=offscreen
}

machine() {
  echo "machine: $(sed -n 's/^model name[[:space:]]*: //p' /proc/cpuinfo | head -1)," \
       "$(nproc) cores, $(awk '/MemTotal/ {printf "%.0f GB", $2/1048576}' /proc/meminfo)," \
       "$(. /etc/os-release && echo "$PRETTY_NAME"), kernel $(uname -r)," \
       "$(ffmpeg -version | head -1 | cut -d' ' -f1-3), load $(cut -d' ' -f1-3 /proc/loadavg)"
}

# Seconds (with nanoseconds) that "$@" takes; its output is dropped.
seconds_of() {
  local start end
  start=$(date +%s%N)
  "$@" >/dev/null 2>&1
  end=$(date +%s%N)
  awk -v s="$start" -v e="$end" 'BEGIN { printf "%.3f", (e - s) / 1e9 }'
}

median() {
  tr ' ' '\n' | grep . | sort -g | awk '{ v[NR] = $1 } END {
    if (NR % 2) print v[(NR + 1) / 2]; else printf "%.3f\n", (v[NR / 2] + v[NR / 2 + 1]) / 2 }'
}

# compare ROUNDS NAME_A FUNC_A NAME_B FUNC_B: runs the two sides alternately (A B, then B A,
# ...) so that drift in the machine's load hits both alike; prints every time, the medians
# and the ratio of the medians A/B.
compare() {
  local rounds=$1 name_a=$2 a=$3 name_b=$4 b=$5 times_a="" times_b="" r t
  for ((r = 1; r <= rounds; r++)); do
    if ((r % 2)); then
      t=$(seconds_of "$a"); times_a+=" $t"; t=$(seconds_of "$b"); times_b+=" $t"
    else
      t=$(seconds_of "$b"); times_b+=" $t"; t=$(seconds_of "$a"); times_a+=" $t"
    fi
  done
  local med_a med_b
  med_a=$(echo "$times_a" | median)
  med_b=$(echo "$times_b" | median)
  echo "$name_a (s):$times_a"
  echo "$name_b (s):$times_b"
  echo "median $name_a $med_a s, median $name_b $med_b s"
  echo "ratio of medians $name_a/$name_b: $(awk -v a="$med_a" -v b="$med_b" 'BEGIN { printf "%.3f", a / b }')"
}

# compare_many ROUNDS NAME FUNC [NAME FUNC]...: as compare, for any number of sides; round r
# starts with side r (mod the count) and goes on in order, so each side runs first as often as
# the others. Prints every time and the median of each side; the medians are left in the
# associative array `medians`, by name.
declare -A medians
compare_many() {
  local rounds=$1 r i k t
  shift
  local -a names=() funcs=() times=()
  while (($#)); do names+=("$1"); funcs+=("$2"); times+=(""); shift 2; done
  local count=${#names[@]}
  for ((r = 0; r < rounds; r++)); do
    for ((k = 0; k < count; k++)); do
      i=$(((r + k) % count))
      t=$(seconds_of "${funcs[i]}")
      times[i]+=" $t"
    done
  done
  for ((i = 0; i < count; i++)); do
    medians[${names[i]}]=$(echo "${times[i]}" | median)
    echo "${names[i]} (s):${times[i]}   median ${medians[${names[i]}]} s"
  done
}

# ratio A B: the ratio of the medians of two sides measured by compare_many.
ratio() {
  awk -v a="${medians[$1]}" -v b="${medians[$2]}" 'BEGIN { printf "%.3f", a / b }'
}

# A stereo 44.1 kHz WAV of SECONDS of a tone.
make_wav() {
  ffmpeg -nostdin -v error -y -f lavfi -i "sine=frequency=$3:duration=$2" -ar 44100 -ac 2 "$1"
}

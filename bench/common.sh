# Shared by the benchmark scripts (sourced, not run). Expects $work (a scratch
# folder) and sets $bin (the release build's benchmark programs).
bin=build/release/bench

# bench_build TARGET...: the release build of the given benchmark programs.
bench_build() {
  cmake --preset release >/dev/null
  cmake --build --preset release --target kalo_bench_measure "$@" >/dev/null
}

# measure LOG COMMAND...: runs the command, appends "seconds peak_kib" to LOG, and
# stops the benchmark when the command fails.
measure() {
  local log=$1
  shift
  "$bin/kalo_bench_measure" "$@" 2>"$work/last"
  local seconds kib status
  read -r seconds kib status <"$work/last"
  if [[ "$status" != 0 ]]; then
    echo "failed (status $status): $*" >&2
    exit 1
  fi
  echo "$seconds $kib" >>"$log"
}

# summary LOG MIB: "median_MiB_per_s peak_MiB" of the runs in LOG, each of MIB MiB.
summary() {
  sort -n "$1" | awk -v mib="$2" '{ t[NR] = $1; if ($2 > m) m = $2 }
    END { median = t[int((NR + 1) / 2)]; printf "%.1f %.1f\n", mib / median, m / 1024 }'
}

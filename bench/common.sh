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

# nginx_start PREFIX HTTP_BLOCK: nginx as this user, one process in the background, its
# files under PREFIX, with HTTP_BLOCK inside its http block; @PORT@ there becomes a free
# loopback port. Sets nginx_pid (for the caller's clean-up) and nginx_port.
nginx_start() {
  local prefix=$1
  for _ in $(seq 20); do
    nginx_port=$((20000 + RANDOM % 20000))
    rm -rf "$prefix" && mkdir -p "$prefix/logs"
    # sendfile as Debian's own nginx.conf has it.
    cat >"$prefix/nginx.conf" <<CONF
daemon off;
master_process off;
pid $prefix/nginx.pid;
error_log $prefix/error.log;
events { worker_connections 1024; }
http {
  sendfile on;
${2//@PORT@/$nginx_port}
}
CONF
    nginx -p "$prefix" -c "$prefix/nginx.conf" -e "$prefix/error.log" &
    nginx_pid=$!
    # Up once it wrote its pid; gone when the port was taken, and another is tried.
    for _ in $(seq 100); do
      [[ -s "$prefix/nginx.pid" ]] && return 0
      kill -0 "$nginx_pid" 2>/dev/null || break
      sleep 0.05
    done
    kill "$nginx_pid" 2>/dev/null || true
    wait "$nginx_pid" || true
    nginx_pid=""
  done
  echo "nginx did not start:" >&2
  cat "$prefix/error.log" >&2
  exit 1
}

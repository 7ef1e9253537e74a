#!/usr/bin/env bash
# The engine benchmark: prints figures, it is not a test. Builds what it needs (win64
# preset), then under Wine runs `varnox-disk bench` against
#   - the engine (varnox_bench_host: a DiskServer on a temporary image), as it runs under
#     Wine (SO_SNDBUF left alone), and again with the Windows setting SO_SNDBUF 0 forced;
#   - the bare completion-port loop (varnox_bare_loop): the same platform calls per
#     request with no protocol logic, the engine's ceiling;
#   - the same loop without the disk (--memory): a memory-only ping-pong;
# and, when nbdkit and fio can be had from Debian, the same workload against nbdkit's
# file plugin through fio's nbd engine (native Linux, for reference). One table at the
# end puts them side by side with the ratios.
#
# Settings (environment): BUILD_DIR (default build/win64), BENCH_SECONDS per measure
# (default 2), BENCH_IMAGE (image size, default 128M), BENCH_BLOCK (aggregate read size,
# default 4K), BENCH_CONNECTIONS (default 1,4,16), BENCH_SKIP_NBD=1 to leave nbdkit out.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD

build_dir=${BUILD_DIR:-build/win64}
case $build_dir in /*) ;; *) build_dir="$root/$build_dir" ;; esac
seconds=${BENCH_SECONDS:-2}
image=${BENCH_IMAGE:-128M}
block=${BENCH_BLOCK:-4K}
connections=${BENCH_CONNECTIONS:-1,4,16}
started_at=$(date +%s)

say() { printf '== %s\n' "$*" >&2; }

work=$(mktemp -d /tmp/varnox-bench.XXXXXX)
server_pid=""
nbd_pid=""
cleanup() {
  exec 7>&- 2>/dev/null || true
  for pid in $server_pid $nbd_pid; do
    if kill -0 "$pid" 2>/dev/null; then kill "$pid" 2>/dev/null || true; fi
  done
  rm -rf "$work"
}
trap cleanup EXIT

# --- build -----------------------------------------------------------------------------
bash scripts/setup.sh
say "building (win64 preset) in $build_dir"
cmake --preset win64 -B "$build_dir" >/dev/null
cmake --build "$build_dir" -j2 --target varnox-disk varnox_bench_host varnox_bare_loop >"$work/build.log" 2>&1 || {
  cat "$work/build.log" >&2
  exit 1
}
tool="$build_dir/tools/varnox-disk/varnox-disk.exe"
host="$build_dir/bench/varnox_bench_host.exe"
bare="$build_dir/bench/varnox_bare_loop.exe"
wine_run=("$root/cmake/wine-run" "$build_dir")

# --- one Windows server, measured by varnox-disk bench under Wine ------------------------
# run_windows NAME PROGRAM [ARGS...]: starts the server with a pipe as its standard
# input, waits for its "ready port N", benches it into $work/NAME.csv, then closes the
# pipe, which is the server's signal to stop and remove its image.
run_windows() {
  local name=$1
  shift
  local log="$work/$name.log" fifo="$work/$name.stdin"
  mkfifo "$fifo"
  "${wine_run[@]}" "$@" --size "$image" --seconds 600 <"$fifo" >"$log" 2>&1 &
  server_pid=$!
  exec 7>"$fifo"
  local port="" i
  for ((i = 0; i < 600; ++i)); do
    port=$(sed -n 's/^ready port \([0-9]*\).*/\1/p' "$log")
    [ -n "$port" ] && break
    kill -0 "$server_pid" 2>/dev/null || break
    sleep 0.1
  done
  if [ -z "$port" ]; then
    say "$name: the server did not start"
    cat "$log" >&2
    exec 7>&-
    wait "$server_pid" || true
    server_pid=""
    return 1
  fi
  say "$name: $(head -n 1 "$log")"
  local status=0
  # The client must not hold the server's pipe open (7>&-), or closing it would not stop the server.
  "${wine_run[@]}" "$tool" --port "$port" --timeout 120 bench --duration "$seconds" --block "$block" \
    --connections "$connections" --csv >"$work/$name.csv" 2> >(sed 's/^/   /' >&2) 7>&- || status=$?
  exec 7>&-
  for ((i = 0; i < 150; ++i)); do
    kill -0 "$server_pid" 2>/dev/null || break
    sleep 0.1
  done
  if kill -0 "$server_pid" 2>/dev/null; then
    say "$name: the server did not stop by itself; ending it"
    kill "$server_pid" 2>/dev/null || true
  fi
  wait "$server_pid" 2>/dev/null || true
  server_pid=""
  if [ "$status" -ne 0 ]; then
    say "$name: varnox-disk bench failed ($status)"
    rm -f "$work/$name.csv"
    return 1
  fi
}

runs=()
for entry in "engine:$host" "engine_sndbuf0:$host --sndbuf-zero" "bare:$bare" "memory:$bare --memory"; do
  name=${entry%%:*}
  # shellcheck disable=SC2086 # each entry's words are the program and its options
  if run_windows "$name" ${entry#*:}; then runs+=("$name"); fi
done

# --- nbdkit (file plugin) with fio's nbd engine, native ---------------------------------
nbd_note=""
have_nbd_tools() { command -v nbdkit >/dev/null && command -v fio >/dev/null && command -v python3 >/dev/null; }
fio_csv() { # KEY CONNECTIONS BLOCK_BYTES JSON_FILE
  python3 - "$@" <<'EOF'
import json, sys
key, connections, block, path = sys.argv[1:5]
text = open(path).read()
# fio's nbd engine says "connected to NBD server" on standard output before the report.
job = json.loads(text[text.index("{"):])["jobs"][0]
side = job["write"] if job["write"]["io_bytes"] > 0 else job["read"]
seconds = job["job_runtime"] / 1000.0 if "job_runtime" in job else side["runtime"] / 1000.0
requests = side["total_ios"]
print(f"{key},{connections},{block},{requests},{seconds:.3f},{side['iops']:.1f},{side['bw_bytes'] / 1048576:.2f}")
EOF
}
run_nbd() {
  if ! have_nbd_tools; then
    say "nbdkit: installing nbdkit and fio from Debian"
    local sudo_cmd=()
    [ "$(id -u)" -ne 0 ] && sudo_cmd=(sudo)
    if ! { "${sudo_cmd[@]}" apt-get install -y -q nbdkit fio >"$work/apt.log" 2>&1 ||
      { "${sudo_cmd[@]}" apt-get update -q >>"$work/apt.log" 2>&1 &&
        DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get install -y -q nbdkit fio >>"$work/apt.log" 2>&1; }; }; then
      nbd_note="nbdkit/fio could not be installed (see apt-get); section skipped"
      return 1
    fi
  fi
  if ! have_nbd_tools; then
    nbd_note="nbdkit, fio or python3 missing; section skipped"
    return 1
  fi
  if ! fio --enghelp 2>/dev/null | grep -qw nbd; then
    nbd_note="this fio has no nbd engine; section skipped"
    return 1
  fi
  local img="$work/nbd.img" port
  truncate -s "$image" "$img"
  # Real blocks, not a sparse file: reads must come from the page cache as on the Wine side.
  dd if=/dev/zero of="$img" bs=1M count=$(($(stat -c %s "$img") / 1048576)) conv=notrunc status=none
  port=$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
  nbdkit -f -i 127.0.0.1 -p "$port" file file="$img" >"$work/nbdkit.log" 2>&1 &
  nbd_pid=$!
  local i
  for ((i = 0; i < 100; ++i)); do
    (exec 3<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null && break
    sleep 0.1
  done
  local uri="nbd://127.0.0.1:$port" runtime
  runtime=$(awk -v s="$seconds" 'BEGIN { r = int(s); if (r < s) r++; if (r < 1) r = 1; print r }')
  local block_bytes
  block_bytes=$(awk -v b="$block" 'BEGIN { n = b + 0; u = toupper(substr(b, length(b))); if (u == "K") n *= 1024; if (u == "M") n *= 1048576; print n }')
  fio_one() { # KEY CONNECTIONS RW BLOCK_BYTES
    local json="$work/fio-$1.json"
    fio --name="$1" --ioengine=nbd --uri="$uri" --rw="$3" --bs="$4" --iodepth=1 --numjobs="$2" --thread \
      --group_reporting --time_based --runtime="$runtime" --size="$image" --output-format=json >"$json" 2>"$work/fio.err" &&
      fio_csv "$1" "$2" "$4" "$json"
  }
  fio_all() {
    echo "key,connections,block,requests,seconds,requests_per_s,mib_per_s"
    say "nbdkit: 4 KiB random reads, one in flight"
    fio_one rand_read_qd1 1 randread 4096 || return 1
    say "nbdkit: 2 MiB sequential reads"
    fio_one seq_read 1 read 2097152 || return 1
    say "nbdkit: 2 MiB sequential writes"
    fio_one seq_write 1 write 2097152 || return 1
    local n
    for n in ${connections//,/ }; do
      say "nbdkit: random reads over $n connections"
      fio_one "agg_read_c$n" "$n" randread "$block_bytes" || return 1
    done
  }
  fio_all >"$work/nbdkit.csv" || {
    nbd_note="fio failed: $(head -c 300 "$work/fio.err")"
    kill "$nbd_pid" 2>/dev/null || true
    return 1
  }
  kill "$nbd_pid" 2>/dev/null || true
  wait "$nbd_pid" 2>/dev/null || true
  nbd_pid=""
}
if [ "${BENCH_SKIP_NBD:-0}" = 1 ]; then
  nbd_note="left out (BENCH_SKIP_NBD=1)"
elif run_nbd; then
  runs+=("nbdkit")
fi

# --- the side-by-side table --------------------------------------------------------------
if [ ${#runs[@]} -eq 0 ]; then
  say "no run produced figures"
  exit 1
fi
files=()
for name in "${runs[@]}"; do files+=("$work/$name.csv"); done
echo
echo "Varnox engine benchmark: $(date -u '+%Y-%m-%d %H:%M UTC'), $(nproc) CPUs, load $(cut -d' ' -f1-3 /proc/loadavg)"
echo "  ${seconds} s per measure, image ${image}, aggregate reads of ${block}; client: varnox-disk.exe under Wine"
echo "  (nbdkit: native nbdkit file plugin + fio --ioengine=nbd, for reference)"
echo
block_title=$(awk -v b="$block" 'BEGIN { u = toupper(substr(b, length(b))); n = b + 0
  if (u == "K") print n " KiB"; else if (u == "M") print n " MiB"; else print n " B" }')
awk -F, -v runs="${runs[*]}" -v block="$block_title" '
  FNR == 1 { split(FILENAME, parts, "/"); run = parts[length(parts)]; sub(/\.csv$/, "", run); next }
  {
    key = $1
    if (!(key in seen)) { seen[key] = 1; order[++count] = key; conns[key] = $2; bytes[key] = $3 }
    if ($6 == "") next
    # Small transfers are told by requests per second, large ones by MiB/s.
    value[run, key] = ($3 >= 1048576) ? $7 : $6
  }
  function title(key) {
    if (key == "rand_read_qd1") return "4 KiB random reads, QD1"
    if (key == "seq_read") return "2 MiB sequential reads"
    if (key == "seq_write") return "2 MiB sequential writes"
    return block " reads, " conns[key] (conns[key] == 1 ? " connection" : " connections")
  }
  function unit(key) { return bytes[key] >= 1048576 ? "MiB/s" : "req/s" }
  function cell(run, key) { return ((run, key) in value) ? sprintf("%.1f", value[run, key]) : "-" }
  function pct(a, b) { return ((a, KEY) in value && (b, KEY) in value && value[b, KEY] > 0) ? sprintf("%.0f%%", 100 * value[a, KEY] / value[b, KEY]) : "-" }
  END {
    n = split(runs, names, " ")
    label["engine"] = "engine"; label["engine_sndbuf0"] = "engine SNDBUF0"; label["bare"] = "bare loop"
    label["memory"] = "mem ping-pong"; label["nbdkit"] = "nbdkit"
    printf "%-28s %-6s", "measure", "unit"
    for (i = 1; i <= n; ++i) printf " %14s", label[names[i]]
    printf " %12s %12s %12s %12s\n", "engine/bare", "engine/mem", "bare/mem", "sndbuf0/eng"
    for (k = 1; k <= count; ++k) {
      KEY = order[k]
      printf "%-28s %-6s", title(KEY), unit(KEY)
      for (i = 1; i <= n; ++i) printf " %14s", cell(names[i], KEY)
      printf " %12s %12s %12s %12s\n", pct("engine", "bare"), pct("engine", "memory"), pct("bare", "memory"), pct("engine_sndbuf0", "engine")
    }
    # How the aggregate reads grow with connections, against the run with the fewest.
    first = ""
    for (k = 1; k <= count; ++k) if (order[k] ~ /^agg_read_c/) { if (first == "") first = order[k] }
    if (first != "") {
      printf "\naggregate reads vs connections (x the %s-connection figure of the same server)\n", conns[first]
      printf "%-28s", "connections"
      for (i = 1; i <= n; ++i) printf " %14s", label[names[i]]
      printf "\n"
      for (k = 1; k <= count; ++k) {
        KEY = order[k]
        if (KEY !~ /^agg_read_c/) continue
        printf "%-28s", conns[KEY]
        for (i = 1; i <= n; ++i) {
          r = names[i]
          if ((r, KEY) in value && (r, first) in value && value[r, first] > 0) printf " %13.2fx", value[r, KEY] / value[r, first]
          else printf " %14s", "-"
        }
        printf "\n"
      }
    }
  }' "${files[@]}"
[ -n "$nbd_note" ] && echo && echo "nbdkit: $nbd_note"
echo
echo "whole run: $(($(date +%s) - started_at)) s"

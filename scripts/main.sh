#!/usr/bin/env bash
# The main job: build the service and its tools, install varnoxsvc as a service in a Wine
# prefix of its own, share a sample disk image, and show the share answering. The
# service is left running; the last lines say how to use it and how to stop it.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD

bash scripts/setup.sh

echo "== build (win64: varnoxsvc, varnoxctl; host: varnox-disk)"
cmake --preset win64 >/dev/null
cmake --build --preset win64 --target varnoxsvc varnoxctl
cmake --preset host >/dev/null
cmake --build --preset host --target varnox-disk

export WINEPREFIX="$root/build/demo/wineprefix"
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="
export WINEARCH=win64
logs="$root/build/demo/logs"
mkdir -p "$logs"

# Quiet Wine runs; their output goes to the log unless asked for.
wine_quiet() { wine "$@" </dev/null >>"$logs/wine.log" 2>&1; }

if [ ! -f "$WINEPREFIX/.varnox-ready" ]; then
  echo "== making the Wine prefix $WINEPREFIX (about a minute)"
  rm -rf "$WINEPREFIX"
  mkdir -p "$WINEPREFIX"
  wineserver -p </dev/null >>"$logs/wineserver.log" 2>&1 || true
  # Without the 32-bit half, wineboot reports a failure for the parts it cannot start;
  # the prefix is usable once the 64-bit system folder exists.
  wineboot -i </dev/null >>"$logs/wine.log" 2>&1 || true
  if [ ! -f "$WINEPREFIX/drive_c/windows/system32/kernel32.dll" ]; then
    echo "main: wineboot could not make the prefix (see $logs/wine.log)" >&2
    exit 1
  fi
  # The first boot can leave two copies of Wine's service manager running, and services
  # then fail to start; ending that boot's processes lets the next program start one set.
  wineserver -k </dev/null >>"$logs/wineserver.log" 2>&1 || true
  wineserver -w </dev/null >>"$logs/wineserver.log" 2>&1 || true
  touch "$WINEPREFIX/.varnox-ready"
fi
# One persistent server for the prefix, not tied to this shell's pipes.
wineserver -p </dev/null >>"$logs/wineserver.log" 2>&1 || true

install_dir="$WINEPREFIX/drive_c/Varnox"
mkdir -p "$install_dir"

# Wine ends a service once no ordinary Wine process is left; this one waits for input
# that never comes, for as long as the service should run.
keeper_pid_file="$root/build/demo/keeper.pid"
if [ -f "$keeper_pid_file" ] && kill -0 "$(cat "$keeper_pid_file")" 2>/dev/null; then
  :
else
  setsid bash -c 'sleep infinity | wine cmd /c pause' </dev/null >>"$logs/keeper.log" 2>&1 &
  echo $! >"$keeper_pid_file"
  sleep 2
fi

echo "== installing varnoxsvc as a service"
if wine sc query varnoxsvc </dev/null 2>/dev/null | grep -q RUNNING; then
  wine_quiet sc stop varnoxsvc || true
  for _ in $(seq 1 100); do
    wine sc query varnoxsvc </dev/null 2>/dev/null | grep -q STOPPED && break
    sleep 0.2
  done
fi
cp build/win64/service/host/varnoxsvc.exe build/win64/tools/varnoxctl/varnoxctl.exe "$install_dir/"
# Right after the prefix is made, Wine's service manager may still be starting.
for _ in $(seq 1 20); do
  wine sc query varnoxsvc </dev/null >/dev/null 2>&1 && break
  wine_quiet sc create varnoxsvc 'binPath=' 'C:\Varnox\varnoxsvc.exe' 'start=' demand && break
  sleep 1
done
wine_quiet sc start varnoxsvc || { echo "main: sc start varnoxsvc failed (see $logs/wine.log)" >&2; exit 1; }

ctl() { wine "$install_dir/varnoxctl.exe" "$@" </dev/null 2>&1 | tr -d '\r'; }

# The management interface comes up once the saved servers have started.
for _ in $(seq 1 100); do
  ctl server-name >/dev/null && break
  sleep 0.2
done

image="$install_dir/sample.img"
port=9500
if [ ! -f "$image" ]; then
  echo "== creating a 64 MiB sample disk image $image"
  truncate -s 64M "$image"
fi

servers=$(ctl servers)
if ! grep -q 'sample.img' <<<"$servers"; then
  echo "== adding and starting a share of it on port $port"
  added=$(ctl add-server --source 'C:\Varnox\sample.img' --port "$port" --manage-password demo)
  echo "$added"
  handle=$(sed -n 's/^added server \([0-9-]*\).*/\1/p' <<<"$added")
  [ -n "$handle" ] || { echo "main: could not add the share" >&2; exit 1; }
  ctl add-client "$handle" 127.0.0.1 full
  ctl start "$handle"
fi
ctl servers

disk="build/host/tools/varnox-disk/varnox-disk"
echo "== the share answering"
for _ in $(seq 1 50); do
  "$disk" --port "$port" info >/dev/null 2>&1 && break
  sleep 0.2
done
"$disk" --port "$port" info
message="Varnox wrote this at $(date -u +%FT%TZ)"
printf '%s' "$message" >"$root/build/demo/message.txt"
"$disk" --port "$port" write --offset 1M --input "$root/build/demo/message.txt"
back=$("$disk" --port "$port" read --offset 1M --length "${#message}")
echo "read back: $back"
[ "$back" = "$message" ] || { echo "main: the bytes read back differ from those written" >&2; exit 1; }

cat <<INFO

varnoxsvc is running in the Wine prefix $WINEPREFIX, sharing
C:\\Varnox\\sample.img on 127.0.0.1:$port (its configuration: C:\\Varnox\\Locals.xml).

Use it:
  $disk --port $port info
  $disk --port $port read --length 4K | xxd | head
  WINEPREFIX=$WINEPREFIX wine $install_dir/varnoxctl.exe servers
  WINEPREFIX=$WINEPREFIX wine $install_dir/varnoxctl.exe --help

Stop it:
  WINEPREFIX=$WINEPREFIX wine sc stop varnoxsvc
  kill -- -\$(cat $keeper_pid_file)
INFO

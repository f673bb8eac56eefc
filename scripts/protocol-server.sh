#!/usr/bin/env bash
# Starts and stops the local protocol test server for `make run`.
#
#   scripts/protocol-server.sh start BUILD_DIR RUN_DIR [extra server options...]
#       Starts BUILD_DIR/bin/quorel-protocol-server on a free loopback port with
#       --delay-ms 1200 and --lifetime 14400 (extra options follow and win),
#       its request log in RUN_DIR/protocol-server.jsonl and its stderr in
#       RUN_DIR/protocol-server.err. Waits at most 10 s for the port, then
#       prints the base URL, http://127.0.0.1:PORT, as the only line on stdout.
#       The pid is kept in RUN_DIR/protocol-server.pid. Exit code 1 when the
#       server did not come up (its stderr tells why).
#
#   scripts/protocol-server.sh stop RUN_DIR
#       Asks the server to quit (/_ctl/quit), waits up to 3 s, then ends the
#       process recorded in RUN_DIR/protocol-server.pid. Quiet when nothing runs.
set -euo pipefail

usage() {
  sed -n '2,17p' "$0" >&2
  exit 2
}

cmd=${1:-}
case "$cmd" in
  start)
    (($# >= 3)) || usage
    build=$2
    run=$3
    shift 3
    exe="$build/bin/quorel-protocol-server"
    [[ -x "$exe" ]] || { echo "protocol-server: $exe is not built" >&2; exit 1; }
    mkdir -p "$run"
    portfile="$run/protocol-server.port"
    rm -f "$portfile"
    "$exe" --listen 127.0.0.1:0 --port-file "$portfile" --delay-ms 1200 --lifetime 14400 \
      --log "$run/protocol-server.jsonl" "$@" >/dev/null 2>"$run/protocol-server.err" &
    pid=$!
    echo "$pid" >"$run/protocol-server.pid"
    for _ in $(seq 100); do
      if [[ -s "$portfile" ]]; then
        echo "http://127.0.0.1:$(cat "$portfile")"
        exit 0
      fi
      kill -0 "$pid" 2>/dev/null || break
      sleep 0.1
    done
    echo "protocol-server: did not start; see $run/protocol-server.err" >&2
    kill "$pid" 2>/dev/null || true
    rm -f "$run/protocol-server.pid"
    exit 1
    ;;
  stop)
    (($# == 2)) || usage
    run=$2
    pidfile="$run/protocol-server.pid"
    [[ -f "$pidfile" ]] || exit 0
    pid=$(cat "$pidfile")
    if [[ -s "$run/protocol-server.port" ]]; then
      port=$(cat "$run/protocol-server.port")
      # Plain bash, so stopping needs no HTTP tool.
      if exec 3<>"/dev/tcp/127.0.0.1/$port" 2>/dev/null; then
        printf 'GET /_ctl/quit HTTP/1.1\r\nHost: 127.0.0.1:%s\r\n\r\n' "$port" >&3 || true
        timeout 2 cat <&3 >/dev/null 2>&1 || true
        exec 3<&-
      fi
    fi
    for _ in $(seq 30); do
      kill -0 "$pid" 2>/dev/null || break
      sleep 0.1
    done
    kill "$pid" 2>/dev/null || true
    rm -f "$pidfile"
    ;;
  *)
    usage
    ;;
esac

#!/usr/bin/env bash
# Starts the program from a build folder. Unless SERVER=off, the local
# protocol test server is started first on a free loopback port, the device's
# HKCU hive is pointed at it, and the server is stopped when the program exits.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
run_dir="$build/run"

if [[ "${SERVER:-on}" != off ]]; then
  url=$(scripts/protocol-server.sh start "$build" "$run_dir")
  trap 'scripts/protocol-server.sh stop "$run_dir"' EXIT
  "$build/bin/quorel-server-urls" "$url"
  echo "run-local: protocol test server at $url (log: $run_dir/protocol-server.jsonl)"
fi

"$build/bin/quorel"

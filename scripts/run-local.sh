#!/usr/bin/env bash
# Starts the program from a build folder. Once the local protocol test server
# exists it is started first and the program's base URLs point at it.
set -euo pipefail
build=${1:-build}
exec "$build/bin/quorel"

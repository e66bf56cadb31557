#!/usr/bin/env bash
# `make run`: the application on the simulator when no programmer hardware is configured.
set -eu
build=${1:-build}
if [ -x "$build/src/cli/zemprix-cli" ]; then
  exec "$build/src/cli/zemprix-cli" devices
fi
echo "zemprix-cli is not built yet"

#!/usr/bin/env bash
# `make run`: with a display, the desktop application on a simulated COP8 behind zemprix-boxsim
# on a pseudo-terminal, with the example image loaded; without one, the CLI programs the example
# image into the simulated target, verifies it, reads it back and shows its checksums. With
# ZEMPRIX_PORT set (a serial port or device path with a real programmer box on it) the box there
# is used instead.
set -eu
build=${1:-build}
cli="$build/src/cli/zemprix-cli"
boxsim="$build/src/zemprix-boxsim"
work=$(mktemp -d)
trap 'kill ${sim_pid:-} 2>/dev/null || true; rm -rf "$work"' EXIT
# The demo keeps its settings under the build tree: a user's own settings stay untouched.
export ZEMPRIX_SETTINGS_DIR=${ZEMPRIX_SETTINGS_DIR:-$(cd "$build" && pwd)/run-settings}

port=${ZEMPRIX_PORT:-}
if [ -z "$port" ]; then
  "$boxsim" --device COP8SBR9 --state "$work/target.state" > "$work/boxsim.out" &
  sim_pid=$!
  for _ in $(seq 50); do [ -s "$work/boxsim.out" ] && break; sleep 0.1; done
  port=$(head -n1 "$work/boxsim.out")
  echo "Simulated programmer box on $port"
fi

if [ -n "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ] && [ -z "${ZEMPRIX_CLI_DEMO:-}" ]; then
  echo "Starting the desktop application (set ZEMPRIX_CLI_DEMO=1 for the command-line demo)"
  ZEMPRIX_COM1="$port" "$build/src/gui/zemprix" "/M:ZEMPRIX (COM)" "/L:$PWD/examples/demo.hex"
  exit 0
fi

run() { echo "\$ zemprix-cli $*"; "$cli" --hardware com --port "$port" --device COP8SBR9 "$@"; }
"$cli" devices
run info
run program examples/demo.hex
run verify examples/demo.hex
run read "$work/readback.hex"
run checksums "$work/readback.hex"

#!/usr/bin/env bash
# Installs what is missing, builds, and starts the server: the window where a display
# exists, headless where none does. Extra arguments go to the server (--port, --address,
# --headless, --no-splash; see --help).
set -eu
repo=$(cd "$(dirname "$0")/.." && pwd)
. "$repo/scripts/common.sh"
ensure_packages "${packages_build[@]}"
build "$repo/build"
exec "$repo/build/app/vantrel-server" "$@"

#!/bin/sh
# Builds the Updater and shows what it does.
set -e
cd "$(dirname "$0")/.."

./scripts/install-deps.sh
cmake -S . -B build-release -DCMAKE_BUILD_TYPE=Release
cmake --build build-release --target Updater -j2

UPDATER=build-release/app/Updater
echo
echo "== $UPDATER   (no command: version, copyright and usage)"
"$UPDATER"

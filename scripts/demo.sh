#!/bin/sh
# Builds the Updater and shows its main job on simulated hardware: a local update
# server holding a new build for a simulated module, the module itself on TCP/IP,
# and the tool discovering it, downloading the build, updating the module and
# finding it again with the new build. The network part runs in a private network
# namespace (unshare -n; as root, or in a user namespace where that is allowed).
set -e
cd "$(dirname "$0")/.."

if [ "${1:-}" != "--in-namespace" ]; then
    ./scripts/install-deps.sh
    cmake -S . -B build-release -DCMAKE_BUILD_TYPE=Release
    cmake --build build-release --target Updater vzsim vzupdate-server birdtool -j2

    UPDATER=build-release/app/Updater
    echo
    echo "== $UPDATER   (no command: version, copyright and usage)"
    "$UPDATER" || true

    if [ "$(id -u)" -eq 0 ]; then
        exec unshare -n "$0" --in-namespace
    fi
    exec unshare -r -n "$0" --in-namespace
fi

# From here on: inside the namespace, nothing reaches any real network.
B=${DEMO_BUILD:-build-release}
SERIAL=40F5849A
WORK=$(mktemp -d)
PIDS=
cleanup() {
    for pid in $PIDS; do kill "$pid" 2>/dev/null || true; done
    wait 2>/dev/null || true
    rm -rf "$WORK"
}
trap cleanup EXIT INT TERM

ip link set lo up
ip addr add 127.0.0.2/8 dev lo label lo:1

# Build 2000 (version 1.3.0) for the module; the module itself runs build 1000.
head -c 65536 /dev/urandom > "$WORK/firmware.bin"
mkdir -p "$WORK/server/$SERIAL"
"$B/tools/birdtool/birdtool" -o "$WORK/server/$SERIAL/2000.bird" --build 2000 \
    --version 1.3.0 --serial $SERIAL --model "Power Base+" \
    --loader 0x10000000,pattern:2048 --firmware 0x8000,"$WORK/firmware.bin" > /dev/null
echo "latest=2000" > "$WORK/server/$SERIAL/.server"

wait_for() {
    i=0
    while [ ! -s "$1" ]; do
        i=$((i + 1))
        [ $i -gt 100 ] && { echo "demo: $2 did not start" >&2; exit 1; }
        sleep 0.1
    done
}

"$B/sim/updateserver/vzupdate-server" --root "$WORK/server" --bind 127.0.0.1 --port 0 \
    --ready-file "$WORK/server.port" --quiet &
PIDS="$PIDS $!"
wait_for "$WORK/server.port" "the update server"
URL="http://127.0.0.1:$(cat "$WORK/server.port")/cgi/u"

"$B/sim/module/vzsim" --serial $SERIAL --model 19 --name "Demo module" --version 1.2.0 \
    --build 1000 --tcp 0 --bind 127.0.0.2 --discovery 127.0.0.2 \
    --firmware "$WORK/server/$SERIAL/2000.bird" --ready-file "$WORK/module.ready" > /dev/null &
PIDS="$PIDS $!"
wait_for "$WORK/module.ready" "the simulated module"

UPDATER="$B/app/Updater"
STORE="$WORK/store"
echo
echo "== Updater -D -t TCPIP   (the simulated module runs build 1000)"
"$UPDATER" -D -t TCPIP
echo
echo "== Updater -G -U -d $SERIAL -u $URL -i $STORE"
"$UPDATER" -G -U -d $SERIAL -u "$URL" -i "$STORE"
echo
echo "== Updater -D -t TCPIP   (the module came back with build 2000)"
"$UPDATER" -D -t TCPIP

#!/bin/bash
# bench/latency.sh on a private PulseAudio and then on a private headless PipeWire, one after the other.
# Usage: bench/latency-all.sh BUILD_FOLDER [bench_latency options]
set -eu
for server in pulse pipewire; do
    echo "==== $server"
    E2E_SERVER=$server bash "$(dirname "$0")/latency.sh" "$@"
done

#!/bin/bash
# The long session (bench/soak.sh) cut to 30 seconds and 20 song loads: the drum hits heard (all but 2% at
# most, for a CI machine busy beside the test), files and threads flat.
exec bash "$(dirname "$0")/../../bench/soak.sh" --seconds 30 --loads 20 --warmup 10 --max-lost-percent 2 "$3"

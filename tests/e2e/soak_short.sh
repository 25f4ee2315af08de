#!/bin/bash
# The long session (bench/soak.sh) cut to 30 seconds and 20 song loads: every drum hit heard, files and
# threads flat.
exec bash "$(dirname "$0")/../../bench/soak.sh" --seconds 30 --loads 20 --warmup 10 "$3"

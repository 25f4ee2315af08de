#!/bin/bash
# Slowed real recordings, scored by an onset detector that is not ours: twelve-second excerpts of songs
# with drums from Debian's game-music packages (their own composers' work under free licences), each
# slowed to 0.5 by our element with its attack splice, by our element without it (Rubber Band alone, in
# real-time mode as the element runs it) and by Rubber Band's own command-line tool offline
# (`rubberband -3 -t 2`). aubio's onset detector (`aubioonset -O hfc`) finds the hits of each original and
# of each slowed copy; each original hit is expected once on the slowed timeline, matched within 25 ms.
# Printed per excerpt and as means: F-measure, precision (hits heard that were in the song), recall, and
# the median timing error of the matched hits.
#
# Usage: bench/real_songs.sh BUILD_FOLDER [SPEED]   (0.5 unless told; needs aubio-tools, rubberband-cli)
# The packages are downloaded (not installed) once into $ZORVIK_SONG_CACHE (~/.cache/zorvik-songs).
set -euo pipefail
BUILD=${1:?usage: bench/real_songs.sh BUILD_FOLDER [SPEED]}
SPEED=${2:-0.5}
STRETCH="$BUILD/bench/stretch_file"
SCORE="$(dirname "$0")/onsets.awk"
CACHE=${ZORVIK_SONG_CACHE:-$HOME/.cache/zorvik-songs}
for tool in "$STRETCH" aubioonset rubberband sox gst-launch-1.0; do
    command -v "$tool" >/dev/null || { echo "missing $tool" >&2; exit 1; }
done

# Package, file inside it, where the excerpt starts (s). The last is drums alone: a groove of a real
# acoustic kit's samples (hydrogen-drumkits), made here.
EXCERPTS=(
    "nexuiz-music nexuiz/data/music.pk3:sound/cdtracks/infight.ogg 60"
    "nexuiz-music nexuiz/data/music.pk3:sound/cdtracks/beast-of-insanity.ogg 60"
    "nexuiz-music nexuiz/data/music.pk3:sound/cdtracks/neuronal-diving.ogg 60"
    "asc-music asc/music/time_to_strike.mp3 60"
    "warzone2100-music warzone2100/music/albums/original_soundtrack/track1.opus 60"
    "warzone2100-music warzone2100/music/albums/aftermath_soundtrack/track17.opus 60"
    "hydrogen-drumkits groove 0"
)

mkdir -p "$CACHE"
fetch() {  # package → its files under $CACHE/package
    [ -d "$CACHE/$1" ] && return
    (cd "$CACHE" && apt-get download -qq "$1" && dpkg-deb -x "$1"_*.deb "$1.tmp" && rm "$1"_*.deb &&
        mv "$1.tmp" "$1")
}

# Twelve seconds of drums alone from KIT: hats on every eighth at 100 BPM, kick on 1 and 3, snare on 2
# and 4, each part at its own level.
groove() {
    local parts=() at
    for drum in bassdrum-4mics-br-stereo-normal3 snare-opaque-normal-mic-normal_shot2 hihat-closed-1; do
        sox -R "$1/$drum.flac" -r 44100 -c 2 "$WORK/${drum%%-*}.wav"
    done
    for i in $(seq 0 39); do
        at=$(echo "$i * 0.3" | bc)
        parts+=(-v 1 "|sox -R $WORK/hihat.wav -p pad $at 13")
        case $((i % 4)) in
            0) parts+=(-v 1 "|sox -R $WORK/bassdrum.wav -p pad $at 13") ;;
            2) parts+=(-v 1 "|sox -R $WORK/snare.wav -p pad $at 13") ;;
        esac
    done
    sox -R -m "${parts[@]}" -b 16 "$2" trim 0 12 norm -1
}

WORK=$(mktemp -d)
trap 'rm -rf "$WORK"' EXIT
LENGTH=$(echo "12 / $SPEED" | bc -l)
score() { awk -v speed="$SPEED" -v tol=0.025 -v dur="$LENGTH" -f "$SCORE" "$1" "$2"; }
declare -A SUM
name_of() {
    case $1 in
        ours) echo "ours, attack splice" ;;
        plain) echo "ours, Rubber Band alone" ;;
        offline) echo "rubberband -3 offline" ;;
    esac
}
echo "| excerpt | stretcher | F-measure | precision | recall | median timing error |"
echo "|---|---|---|---|---|---|"
for row in "${EXCERPTS[@]}"; do
    read -r package path start <<<"$row"
    fetch "$package"
    if [ "$path" = groove ]; then
        groove "$CACHE/$package/usr/share/hydrogen/data/drumkits/ColomboAcousticDrumkit" "$WORK/song.wav"
        name="acoustic kit alone, 100 BPM"
    else
        file="$CACHE/$package/usr/share/games/${path%%:*}"
        if [[ $path == *:* ]]; then  # a file inside a game's zip archive
            unzip -qo "$file" "${path#*:}" -d "$WORK/zip"
            file="$WORK/zip/${path#*:}"
        fi
        name="$(basename "${path#*:}") at ${start} s"
        gst-launch-1.0 -q filesrc location="$file" ! decodebin ! audioconvert ! audioresample ! \
            audio/x-raw,rate=44100,channels=2,format=S16LE ! wavenc ! filesink location="$WORK/full.wav"
        sox -R "$WORK/full.wav" "$WORK/song.wav" trim "$start" 12
    fi
    "$STRETCH" "$WORK/song.wav" "$WORK/ours.wav" "$SPEED"
    "$STRETCH" "$WORK/song.wav" "$WORK/plain.wav" "$SPEED" plain
    rubberband -q -3 -t "$(echo "1 / $SPEED" | bc -l)" "$WORK/song.wav" "$WORK/offline.wav" 2>/dev/null
    for copy in song ours plain offline; do aubioonset -O hfc -i "$WORK/$copy.wav" >"$WORK/$copy.txt"; done
    for copy in ours plain offline; do
        read -r f p r ms _ <<<"$(score "$WORK/song.txt" "$WORK/$copy.txt")"
        label=$(name_of "$copy")
        echo "| $name | $label | $f | $p | $r | $ms ms |"
        SUM[$copy]="${SUM[$copy]:-} $f $p $r $ms"
    done
done
for copy in ours plain offline; do
    echo "${SUM[$copy]}" | awk -v label="$(name_of "$copy")" '{
        for (i = 1; i <= NF; i += 4) { f += $i; p += $(i + 1); r += $(i + 2); ms += $(i + 3); n++ }
        printf "| mean of %d | %s | %.3f | %.3f | %.3f | %.1f ms |\n", n, label, f / n, p / n, r / n, ms / n }'
done

# Shared set-up for the end-to-end tests: a private X display (with or without a window manager), a
# private sound server with a null sink whose monitor can be recorded (PulseAudio, or with
# E2E_SERVER=pipewire a headless PipeWire session with its PulseAudio service), and clean-up of exactly
# the processes a test started. Source it from a test script: `. "$(dirname "$0")/lib.sh"`.
set -eu

E2E_TMP=$(mktemp -d)
E2E_PIDS=""
E2E_PULSE=""
E2E_SERVER=${E2E_SERVER:-pulse}

# Every program a test starts that was built with the sanitizers (the program, the recorder, the test's
# own tools) checks for leaks at exit and writes what it finds to a report here; a report fails the test,
# whatever the script went on to check. tests/lsan.supp names the third-party allocations let off.
export ASAN_OPTIONS="${ASAN_OPTIONS:-detect_leaks=1}:log_path=$E2E_TMP/sanitizer"
export LSAN_OPTIONS="${LSAN_OPTIONS:-suppressions=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)/lsan.supp:print_suppressions=0}"

e2e_cleanup() {
    _status=$?
    # sway runs as another user behind runuser: it is asked to leave rather than signalled through it.
    if [ -n "${SWAYSOCK:-}" ]; then swaymsg exit >/dev/null 2>&1 || true; fi
    for pid in $E2E_PIDS; do kill "$pid" 2>/dev/null || true; done
    if [ -n "$E2E_PULSE" ]; then pulseaudio --kill 2>/dev/null || true; fi
    for pid in $E2E_PIDS; do wait "$pid" 2>/dev/null || true; done
    if ls "$E2E_TMP"/sanitizer.* >/dev/null 2>&1; then
        echo "FAIL: a program of this test reported a sanitizer error:" >&2
        cat "$E2E_TMP"/sanitizer.* >&2
        _status=1
    fi
    rm -rf "$E2E_TMP" ${E2E_WL_DIR:+"$E2E_WL_DIR"}
    exit $_status
}
trap e2e_cleanup EXIT

fail() {
    echo "FAIL: $*" >&2
    if [ -s "$E2E_TMP/zorvik.log" ]; then
        echo "the program's log ends:" >&2
        tail -n 8 "$E2E_TMP/zorvik.log" >&2
    fi
    if [ -n "${DISPLAY:-}" ] && [ -n "${E2E_ARTIFACTS:-}" ]; then
        import -window root "$E2E_ARTIFACTS/failure-$(date +%s).png" 2>/dev/null || true
    fi
    # What was heard and the program's whole log, so a failure that shows once in many runs can be
    # looked at afterwards.
    if [ -n "${E2E_ARTIFACTS:-}" ]; then cp "$E2E_TMP"/*.wav "$E2E_TMP"/*.log "$E2E_ARTIFACTS/" 2>/dev/null || true; fi
    exit 1
}

note() { echo "-- $*"; }

# Runs a command until it succeeds, or fails the test after SECONDS (fractional allowed).
wait_for() {
    _seconds=$1
    shift
    _deadline=$(($(date +%s%N) + $(printf '%.0f' "$(echo "$_seconds * 1000000000" | bc)")))
    while ! "$@" >/dev/null 2>&1; do
        [ "$(date +%s%N)" -lt "$_deadline" ] || return 1
        sleep 0.02
    done
}

track() { E2E_PIDS="$E2E_PIDS $1"; }

# ended PID: the process has ended.
ended() { ! kill -0 "$1" 2>/dev/null; }

# Bounds for servers the tests start: generous, since a busy two-core machine can take many seconds to
# bring one up; a healthy start takes well under a second and returns as soon as it is seen.
E2E_SERVER_BOUND=60
# Bound for the program's answers to what a test does: a window shown, a dialog gone, a recording
# growing, the program ended after a close. Also generous: each wait returns once the answer is seen, so
# the bound only decides when a hang is called one. A sanitizer build's exit includes its leak check,
# which alone took up to 0.9 s on a loaded two-core machine, and a stalled VM adds seconds to anything.
E2E_BOUND=30

# what_was_seen NAME PID LOG: why a server we started is not answering, for the failure message.
what_was_seen() {
    if kill -0 "$2" 2>/dev/null; then _state="still running"; else _state="exited"; fi
    echo "$1 $_state; its log ends: $(tail -n 5 "$3" 2>/dev/null | tr '\n' ' ')"
}

# start_display [wm|nowm]. Xvfb picks a free display itself and names it once it accepts clients, so two
# servers starting at once cannot race for one number. -noreset: by default the server resets when its
# last client leaves, and a client connecting during that reset (openbox, right after the probe below)
# is refused.
start_display() {
    Xvfb -displayfd 3 -noreset -screen 0 1024x768x24 -nolisten tcp 3>"$E2E_TMP/display" >"$E2E_TMP/xvfb.log" 2>&1 &
    _xvfb=$!
    track $_xvfb
    wait_for $E2E_SERVER_BOUND sh -c "grep -q '[0-9]' '$E2E_TMP/display'" ||
        fail "the X server did not start: $(what_was_seen Xvfb $_xvfb "$E2E_TMP/xvfb.log")"
    export DISPLAY=":$(tr -dc 0-9 <"$E2E_TMP/display")"
    wait_for $E2E_SERVER_BOUND xdpyinfo || fail "the X server does not answer on $DISPLAY"
    if [ "${1:-wm}" = wm ]; then
        openbox --sm-disable >"$E2E_TMP/openbox.log" 2>&1 &
        _wm=$!
        track $_wm
        # Waits until openbox manages the screen, or has exited, which no longer wait will mend.
        wait_for $E2E_SERVER_BOUND sh -c "! kill -0 $_wm 2>/dev/null ||
            xprop -root _NET_SUPPORTING_WM_CHECK | grep -q 'window id'" &&
            kill -0 $_wm 2>/dev/null ||
            fail "openbox did not start: $(what_was_seen openbox $_wm "$E2E_TMP/openbox.log")"
        # openbox marks the screen as its own before it answers requests to map a window, and a window
        # that asks in between is never shown (5 starts of 30 here). A window of ours, asked again
        # until openbox shows it, says the windows a test opens will be.
        local probe deadline=$(($(date +%s) + E2E_SERVER_BOUND))
        while :; do
            xmessage -name e2e-probe -title e2e-probe -buttons "" -geometry 10x10+0+0 " " >/dev/null 2>&1 &
            probe=$!
            track $probe
            if wait_for 2 sh -c "xdotool search --onlyvisible --name '^e2e-probe\$'"; then
                break
            fi
            kill "$probe" 2>/dev/null || true
            wait "$probe" 2>/dev/null || true
            [ "$(date +%s)" -lt "$deadline" ] || fail "openbox shows no window: $(what_was_seen openbox $_wm "$E2E_TMP/openbox.log")"
        done
        kill "$probe" 2>/dev/null || true
        wait "$probe" 2>/dev/null || true
        wait_for $E2E_SERVER_BOUND sh -c "! xdotool search --name '^e2e-probe\$'" || fail "the probe window stays"
    fi
}

# start_wayland BUILD: a headless sway (no GPU: the pixman renderer) on a 1024x768 output whose desktop
# is pure red, and a pointer for it (BUILD's tests/wlpointer, driven by `pointer`). sway refuses to run
# as root, so as root it runs as the user zorvik-wayland, made here if need be; its runtime folder lies
# outside E2E_TMP, which that user cannot enter. The programs a test starts stay the test's user and
# reach the compositor by the socket's path. Sets WAYLAND_DISPLAY and SWAYSOCK.
start_wayland() {
    E2E_WL_DIR=$(mktemp -d)
    local user=()
    if [ "$(id -u)" = 0 ]; then
        id zorvik-wayland >/dev/null 2>&1 ||
            useradd --system --no-create-home --shell /usr/sbin/nologin zorvik-wayland ||
            fail "cannot make a user for the compositor"
        chown zorvik-wayland "$E2E_WL_DIR"
        user=(runuser -u zorvik-wayland --)
    fi
    chmod 700 "$E2E_WL_DIR"
    cat >"$E2E_WL_DIR/config" <<CONF
output HEADLESS-1 resolution 1024x768 position 0 0 bg #ff0000 solid_color
xwayland disable
default_border none
focus_follows_mouse no
CONF
    chmod 644 "$E2E_WL_DIR/config"
    "${user[@]}" env -i PATH=/usr/bin:/bin XDG_RUNTIME_DIR="$E2E_WL_DIR" WLR_BACKENDS=headless \
        WLR_RENDERER=pixman WLR_LIBINPUT_NO_DEVICES=1 sway -c "$E2E_WL_DIR/config" >"$E2E_TMP/sway.log" 2>&1 &
    track $!
    wait_for $E2E_SERVER_BOUND sh -c "ls '$E2E_WL_DIR'/sway-ipc.*.sock && test -S '$E2E_WL_DIR/wayland-1'" ||
        fail "sway did not start: $(tail -n 5 "$E2E_TMP/sway.log" | tr '\n' ' ')"
    export WAYLAND_DISPLAY="$E2E_WL_DIR/wayland-1" SWAYSOCK
    SWAYSOCK=$(ls "$E2E_WL_DIR"/sway-ipc.*.sock)
    wait_for $E2E_SERVER_BOUND swaymsg -t get_outputs || fail "sway does not answer"
    coproc WL_POINTER { "$1/tests/wlpointer" 1024x768 2>&1; }
    track $WL_POINTER_PID
    # The seat has a pointer from the first answer on.
    pointer move 0 0
    # A headless seat has a keyboard only while a virtual one lives, and a client takes its keyboard
    # once the seat has one: keys typed by a short-lived wtype alone would reach no one. This one types
    # nothing and stays; each wtype of a test brings its keys.
    wtype -s 86400000 &
    track $!
    wait_for $E2E_SERVER_BOUND sh -c "swaymsg -t get_seats | jq -e '.[0].capabilities == 3'" ||
        fail "the seat has no keyboard"
}

# pointer COMMAND...: one command to the Wayland pointer ("move X Y", "press left", "release left"),
# returning once the compositor has taken it.
pointer() {
    local answer
    echo "$*" >&"${WL_POINTER[1]}"
    read -r -t $E2E_BOUND answer <&"${WL_POINTER[0]}" || fail "the pointer did not answer \"$*\""
    [ "$answer" = ok ] || fail "pointer: $answer"
}

# wl_click X Y: a left click at a screen point of the Wayland output.
wl_click() {
    pointer move "$1" "$2"
    pointer press left
    pointer release left
}

# wl_view PID WIDTH: "x y width height" of the visible window of PID that is WIDTH pixels wide.
wl_view() {
    swaymsg -t get_tree | jq -er --argjson pid "$1" --argjson w "$2" \
        'first(.. | objects | select(.pid? == $pid and .visible? == true and .rect.width? == $w)) |
         "\(.rect.x) \(.rect.y) \(.rect.width) \(.rect.height)"'
}

# start_sound: the server E2E_SERVER names (pulse or pipewire), with a null sink "testsink" as the default
# and a reader on its monitor.
start_sound() {
    export XDG_RUNTIME_DIR="$E2E_TMP/xdg"
    mkdir -m 700 "$XDG_RUNTIME_DIR"
    unset PULSE_SERVER PIPEWIRE_REMOTE PIPEWIRE_RUNTIME_DIR PULSE_RUNTIME_PATH DBUS_SESSION_BUS_ADDRESS || true
    case "$E2E_SERVER" in
        pulse) start_pulseaudio ;;
        pipewire) start_pipewire ;;
        *) fail "E2E_SERVER=$E2E_SERVER is neither pulse nor pipewire" ;;
    esac
    # An idle null sink stalls the first stream for up to two seconds; keep it running.
    parec -d testsink.monitor --raw --latency-msec=10 >/dev/null &
    track $!
}

start_pulseaudio() {
    export PULSE_RUNTIME_PATH="$XDG_RUNTIME_DIR/pulse"
    local log
    log="$E2E_TMP/pulse-$(date +%s%N).log"
    pulseaudio --daemonize=yes -n --exit-idle-time=-1 --disallow-exit --log-target=file:"$log" \
        --load=module-native-protocol-unix \
        --load="module-null-sink sink_name=testsink rate=48000 channels=2" 2>"$log.err" ||
        fail "pulseaudio did not start: $(tail -n 5 "$log" "$log.err" 2>/dev/null | tr '\n' ' ')"
    E2E_PULSE=1
    wait_for $E2E_SERVER_BOUND pactl info ||
        fail "the sound server does not answer; its log ends: $(tail -n 5 "$E2E_TMP/pulse.log" | tr '\n' ' ')"
    pactl set-default-sink testsink
}

# A private headless PipeWire: its own runtime folder, home and D-Bus session, so nothing of the
# user's desktop session is touched, and no VM quirk forcing its own quantum.
start_pipewire() {
    export HOME="$E2E_TMP/home" XDG_CONFIG_HOME="$E2E_TMP/home/.config"
    export XDG_STATE_HOME="$E2E_TMP/home/.local/state" XDG_DATA_HOME="$E2E_TMP/home/.local/share"
    mkdir -p "$XDG_CONFIG_HOME/pipewire/pipewire.conf.d" "$XDG_CONFIG_HOME/pipewire/pipewire-pulse.conf.d" \
        "$XDG_STATE_HOME" "$XDG_DATA_HOME"
    # The tests check what is heard, so their graph runs no faster than E2E_PW_MIN_QUANTUM frames: on a
    # shared two-core VM a real-time thread can wake several milliseconds late (cyclictest -p 88: up to
    # 7 ms at idle), which no player at a 1.3 ms cycle survives. The benches set it to PipeWire's own
    # minimum, 32, to measure how soon a hit is heard at the 64 frames the drums ask for.
    # E2E_PW_RATE runs the graph at another rate than 48 kHz, as many users set for their interface.
    local rate=${E2E_PW_RATE:-48000}
    cat >"$XDG_CONFIG_HOME/pipewire/pipewire.conf.d/no-vm.conf" <<CONF
context.properties = { vm.overrides = { } default.clock.min-quantum = ${E2E_PW_MIN_QUANTUM:-1024}
    default.clock.rate = $rate default.clock.allowed-rates = [ $rate ] }
CONF
    echo 'pulse.properties = { vm.overrides = { } }' >"$XDG_CONFIG_HOME/pipewire/pipewire-pulse.conf.d/no-vm.conf"
    export DBUS_SESSION_BUS_ADDRESS="unix:path=$XDG_RUNTIME_DIR/bus"
    dbus-daemon --session --nofork --address="$DBUS_SESSION_BUS_ADDRESS" >"$E2E_TMP/dbus.log" 2>&1 &
    track $!
    wait_for $E2E_SERVER_BOUND test -S "$XDG_RUNTIME_DIR/bus" || fail "the D-Bus session did not start"
    start_pipewire_daemons
}

# The three PipeWire daemons and the null sink, in the session start_pipewire made; E2E_PW_PIDS holds them.
start_pipewire_daemons() {
    E2E_PW_PIDS=""
    pipewire >>"$E2E_TMP/pipewire.log" 2>&1 &
    track $!
    E2E_PW_PIDS="$E2E_PW_PIDS $!"
    wait_for $E2E_SERVER_BOUND test -S "$XDG_RUNTIME_DIR/pipewire-0" || fail "pipewire did not start"
    wireplumber >>"$E2E_TMP/wireplumber.log" 2>&1 &
    track $!
    E2E_PW_PIDS="$E2E_PW_PIDS $!"
    pipewire-pulse >>"$E2E_TMP/pipewire-pulse.log" 2>&1 &
    track $!
    E2E_PW_PIDS="$E2E_PW_PIDS $!"
    if ! wait_for $E2E_SERVER_BOUND pactl info; then
        echo "pipewire-pulse does not answer; its log, then PipeWire's and WirePlumber's:" >&2
        tail -n 20 "$E2E_TMP/pipewire-pulse.log" "$E2E_TMP/pipewire.log" "$E2E_TMP/wireplumber.log" >&2 || true
        fail "pipewire-pulse does not answer"
    fi
    pactl load-module module-null-sink sink_name=testsink rate=48000 channels=2 >/dev/null ||
        fail "no null sink"
    # WirePlumber may still be choosing its own default when the sink appears.
    wait_for $E2E_SERVER_BOUND sh -c 'pactl set-default-sink testsink && pactl info | grep -q "^Default Sink: testsink$"' ||
        fail "the null sink does not become the default"
}

# server_pids: the processes of the server E2E_SERVER names.
server_pids() {
    case "$E2E_SERVER" in
        pulse) cat "$PULSE_RUNTIME_PATH/pid" ;;
        pipewire) echo "$E2E_PW_PIDS" ;;
    esac
}

# kill_sound: the sound server dies at once, as in a crash.
kill_sound() {
    # shellcheck disable=SC2046 # a list of process ids
    kill -9 $(server_pids) 2>/dev/null || fail "no sound server to kill"
    case "$E2E_SERVER" in
        pulse)
            # A container's first process may never reap the daemon, and its zombie makes the pid file
            # look alive to the next start ("Daemon already running").
            rm -f "$PULSE_RUNTIME_PATH/pid"
            ;;
        pipewire)
            for pid in $E2E_PW_PIDS; do wait "$pid" 2>/dev/null || true; done
            ;;
    esac
    wait_for $E2E_SERVER_BOUND sh -c "! pactl info" || fail "the sound server did not die"
}

# stall_sound SECONDS: the server stops and goes on again, as on a loaded machine or at a resume.
stall_sound() {
    local server
    server=$(server_pids)
    # shellcheck disable=SC2086 # a list of process ids
    kill -STOP $server || fail "no sound server to stall"
    sleep "$1"
    # shellcheck disable=SC2086
    kill -CONT $server
}

# restart_sound: the server starts again in the same place, as a user restarting it would, with its
# null sink the default and a reader on the monitor.
restart_sound() {
    case "$E2E_SERVER" in
        pulse) start_pulseaudio ;;
        pipewire) start_pipewire_daemons ;;
    esac
    # The null sink stalls a fresh server's first streams until it runs; it runs once something records it.
    parec -d testsink.monitor --raw --latency-msec=10 >/dev/null &
    track $!
    wait_for $E2E_SERVER_BOUND sh -c "pactl list short sources | grep testsink.monitor | grep -q RUNNING" ||
        fail "the restarted sink does not run"
}

# record_start FILE: records the sink's monitor until record_stop.
record_start() {
    parec -d testsink.monitor --file-format=wav --rate=48000 --channels=2 --latency-msec=10 "$1" &
    E2E_REC=$!
    track $E2E_REC
    wait_for $E2E_BOUND sh -c "[ \$(stat -c %s '$1' 2>/dev/null || echo 0) -gt 4096 ]" || fail "the recording does not grow"
}

record_stop() {
    kill -INT "$E2E_REC" 2>/dev/null || true
    wait "$E2E_REC" 2>/dev/null || true
}

# The seconds of audio recorded so far in FILE (48 kHz stereo 16-bit).
recorded_seconds() {
    echo "scale=4; ($(stat -c %s "$1") - 44) / 192000" | bc
}

# window_of PID: the id of the visible window of a process, waiting for it to appear.
window_of() {
    wait_for $E2E_BOUND sh -c "xdotool search --onlyvisible --pid $1 | head -1 | grep -q ." || return 1
    xdotool search --onlyvisible --pid "$1" | head -1
}

# geometry WID: sets WX WY WW WH.
geometry() {
    eval "$(xdotool getwindowgeometry --shell "$1")"
    WX=$X WY=$Y WW=$WIDTH WH=$HEIGHT
}

# pixel X Y: the colour of a screen pixel as "r,g,b".
pixel() {
    import -window root -crop "1x1+$1+$2" -depth 8 txt:- 2>/dev/null | tail -1 |
        sed -E 's/.*\(([0-9.]+),([0-9.]+),([0-9.]+).*/\1,\2,\3/' | cut -d. -f1
}

screenshot() { import -window root "$1"; }

# open_main PROGRAM: starts the program, clicks its splash away, puts the main window at 100,100 and
# makes it active; sets PID, MAIN and the main window's geometry WX WY WW WH.
open_main() {
    "$@" >"$E2E_TMP/zorvik.log" 2>&1 &
    PID=$!
    track $PID
    local splash
    splash=$(window_of $PID) || fail "no splash"
    geometry "$splash"
    xdotool mousemove $((WX + 10)) $((WY + 10)) click 1
    wait_for $E2E_BOUND sh -c "xdotool search --onlyvisible --pid $PID | grep -qv '^$splash\$'" || fail "no main window"
    MAIN=$(xdotool search --onlyvisible --pid $PID | grep -v "^$splash\$" | head -1)
    xdotool windowmove --sync "$MAIN" 100 100
    xdotool windowactivate --sync "$MAIN"
    geometry "$MAIN"
}

# load_song PATH: "Load" in the main window, the path pasted into the Music Loader dialog, Enter.
load_song() {
    xdotool windowactivate --sync "$MAIN" 2>/dev/null || true
    click_at 367 120
    wait_for $E2E_BOUND sh -c "xdotool search --onlyvisible --name '^Music Loader\$'" || fail "no Music Loader dialog"
    local dialog
    dialog=$(xdotool search --onlyvisible --name '^Music Loader$' | head -1)
    printf '%s' "$1" | xclip -quiet -selection clipboard -loops 2 2>/dev/null &
    track $!
    sleep 0.2
    xdotool windowactivate --sync "$dialog" key ctrl+a ctrl+v
    sleep 0.3
    xdotool key Return
    # The name completer may take the first Return.
    if ! wait_for 2 sh -c "! xdotool search --onlyvisible --name '^Music Loader\$' | grep -qx '$dialog'"; then
        xdotool key Return
    fi
    wait_for $E2E_BOUND sh -c "! xdotool search --onlyvisible --name '^Music Loader\$' | grep -qx '$dialog'" ||
        fail "the dialog did not take the file"
}

# click_at X Y: a left click at a point of the main window.
click_at() { xdotool mousemove $((WX + $1)) $((WY + $2)) click 1; }

# drum_pads SECONDS: two pads struck in turn, 8 hits a second, as a drummer alternating hands (the keys
# "plus" and "period"), for SECONDS.
drum_pads() {
    local end=$(($(date +%s%N) + $1 * 1000000000))
    while [ "$(date +%s%N)" -lt "$end" ]; do
        xdotool key plus
        sleep 0.125
        xdotool key period
        sleep 0.125
    done
}

# bar_matches SCREENSHOT ROW_TOP PICTURE: the right end of the pad bar on the row at ROW_TOP (pixels in
# the main window), where no caption reaches, shows PICTURE. Uses WX WY.
bar_matches() {
    convert "$1" -crop "30x20+$((WX + 78))+$((WY + $2))" +repage "$E2E_TMP/bar.png"
    convert "$3" -crop 30x20+70+0 +repage "$E2E_TMP/expected.png"
    [ "$(compare -metric AE "$E2E_TMP/bar.png" "$E2E_TMP/expected.png" null: 2>&1)" = 0 ]
}

# The top of drum row N in the main window (rows are 24 pixels apart from 32).
row_top() { echo $((32 + 24 * $1)); }

# play_midi FILE PORT: plays FILE into the MIDI input PORT the way a user linking a software source
# would: a MIDI player with no link of its own, linked by hand. Sets PLAYER.
play_midi() {
    # A player before this one may still have its port listed for a moment after it ended.
    wait_for $E2E_BOUND sh -c "! pw-link -o | grep -q '^midi-file:'" || fail "an earlier MIDI player's port stays"
    pw-midiplay --target 0 -P "{ node.name = midi-file }" "$1" &
    PLAYER=$!
    track $PLAYER
    wait_for $E2E_BOUND sh -c "pw-link -o | grep -q '^midi-file:'" || fail "the MIDI player shows no output port"
    pw-link "$(pw-link -o | grep -m1 '^midi-file:')" "$2" || fail "cannot link the player to $2"
}

# write_midi FILE EVENT...: a one-track MIDI file at 120 beats a minute and 480 ticks a beat (a tick is
# 1.0417 ms); each EVENT is "TICKS_SINCE_THE_LAST NOTE VELOCITY", a note-on on channel 10, or
# "TICKS_SINCE_THE_LAST program PROGRAM", a program change there. Drums need no note-offs.
write_midi() {
    local file=$1 track="" delta note velocity length
    shift
    for event in "$@"; do
        read -r delta note velocity <<<"$event"
        if [ "$note" = program ]; then
            track="$track$(midi_number "$delta")$(printf '\\xc9\\x%02x' "$velocity")"
        else
            track="$track$(midi_number "$delta")$(printf '\\x99\\x%02x\\x%02x' "$note" "$velocity")"
        fi
    done
    track="$track$(midi_number 480)\\xff\\x2f\\x00"
    length=$(printf '%b' "$track" | wc -c)
    {
        printf 'MThd\x00\x00\x00\x06\x00\x00\x00\x01\x01\xe0MTrk'
        printf '%b' "$(printf '\\x%02x\\x%02x\\x%02x\\x%02x' $((length >> 24 & 255)) $((length >> 16 & 255)) \
            $((length >> 8 & 255)) $((length & 255)))"
        printf '%b' "$track"
    } >"$file"
}

# A MIDI variable-length number, as printf escapes.
midi_number() {
    local value=$1 out
    out=$(printf '\\x%02x' $((value & 0x7f)))
    value=$((value >> 7))
    while [ "$value" -gt 0 ]; do
        out="$(printf '\\x%02x' $(((value & 0x7f) | 0x80)))$out"
        value=$((value >> 7))
    done
    printf '%s' "$out"
}

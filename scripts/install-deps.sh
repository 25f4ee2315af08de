#!/bin/sh
# Installs everything Zorvik needs to build, run and be tested on Debian 12. Run as root. The -bad and
# -ugly GStreamer plug-ins are not needed to play music, but many desktops have them; the tests and the
# fuzzers run with them so they see the plug-in set a user's playbin could reach.
set -eu
export DEBIAN_FRONTEND=noninteractive
apt-get update -qq
apt-get install -y -qq --no-install-recommends \
    build-essential cmake pkg-config clang-format-15 clang-tidy-15 clang libclang-rt-14-dev \
    qt6-base-dev qt6-base-dev-tools libgl-dev \
    libgstreamer1.0-dev libgstreamer-plugins-base1.0-dev gstreamer1.0-plugins-base \
    gstreamer1.0-plugins-good gstreamer1.0-libav gstreamer1.0-tools gstreamer1.0-pulseaudio \
    gstreamer1.0-plugins-bad gstreamer1.0-plugins-ugly \
    libsdl2-dev libsndfile1-dev librubberband-dev libsoxr-dev libarchive-dev hydrogen-drumkits \
    fonts-liberation2 fonts-ebgaramond \
    libgtest-dev libgmock-dev libbenchmark-dev \
    xvfb openbox xdotool xclip x11-utils imagemagick bc playerctl libglib2.0-bin \
    pulseaudio pulseaudio-utils sox libsox-fmt-mp3 \
    libpulse-dev libxtst-dev desktop-file-utils appstream dpkg-dev file lintian man-db \
    libpipewire-0.3-dev libasound2-dev pipewire pipewire-pulse wireplumber pipewire-bin dbus-daemon \
    qt6-wayland sway grim wtype jq libwayland-dev \
    ${ZORVIK_EXTRA_PACKAGES:-}

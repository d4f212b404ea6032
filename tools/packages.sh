#!/usr/bin/env bash
# Installs the Debian 12 packages keldro needs and that are missing (run as root).
#   tools/packages.sh        what building and running the tool needs
#   tools/packages.sh test   that, plus what the tests, the fuzzer, the benchmarks, the
#                            Qt 6 build and the package checks need (ser2net serves
#                            boards over the network in the remote-port tests; Jinja
#                            renders the Home Assistant templates as Home Assistant does;
#                            Xvfb and xauth give bench/startup.sh a display; ccache keeps
#                            the objects of tools/test.sh's five builds between runs and
#                            Ninja keeps both cores busy while they build;
#                            poppler-utils' pdftotext reads the reports back)
set -euo pipefail
# QCustomPlot draws the trends window: libqcustomplot-dev holds the header and the Qt 5
# library, libqcustomplot2.1-qt6 the library for a -DKELDRO_QT=6 build. Qt Svg writes
# the HTML report's plots (libqt5svg5-dev; qt6-svg-dev for Qt 6).
packages=(build-essential cmake pkg-config qtbase5-dev libqt5serialport5-dev libudev-dev
          libqcustomplot-dev libqcustomplot2.1-qt6 libmosquitto-dev libtomlplusplus-dev
          libqt5svg5-dev fonts-dejavu-core fonts-inconsolata)
if [ "${1:-}" = test ]; then
    packages+=(clang libclang-rt-dev libbenchmark-dev mosquitto mosquitto-clients
               qt6-base-dev qt6-serialport-dev qt6-svg-dev lintian desktop-file-utils appstream
               ser2net python3-jinja2 xvfb xauth ccache ninja-build poppler-utils)
fi
missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
    export DEBIAN_FRONTEND=noninteractive
    apt-get update -qq
    apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi

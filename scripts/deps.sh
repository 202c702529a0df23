#!/usr/bin/env bash
# Installs the Debian packages the project builds with, when any is missing.
set -euo pipefail

packages=(
    cmake make g++ pkg-config
    libgtest-dev libgmock-dev libbenchmark-dev
    libzint-dev
    libcairo2-dev libpng-dev libjpeg62-turbo-dev nlohmann-json3-dev
    libfreetype-dev libfontconfig-dev
    libudev-dev libsystemd-dev systemd
    libwxgtk3.2-dev libx11-dev xvfb
    libpappl-dev cups-ipp-utils
    # qlpr-ipp behind a real CUPS: a driverless queue turns a PDF into raster
    # through cups-filters and ghostscript (whose ps2pdf also makes the test's
    # PDF); Chromium screenshots the web interface.
    cups cups-client cups-filters ghostscript chromium
    fonts-dejavu-core hyperfine
    clang libclang-rt-14-dev
)

missing=()
for package in "${packages[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'install ok installed'; then
        missing+=("$package")
    fi
done
[ ${#missing[@]} -eq 0 ] && exit 0

echo "Installing: ${missing[*]}"
sudo=""
if [ "$(id -u)" -ne 0 ]; then
    if command -v sudo >/dev/null; then sudo="sudo"; else
        echo "Missing packages (${missing[*]}) and no root rights to install them." >&2
        exit 1
    fi
fi
$sudo apt-get update
DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y --no-install-recommends "${missing[@]}"

#!/usr/bin/env bash
# Installs the Debian packages the build needs, when they are missing.
set -euo pipefail

PACKAGES=(cmake g++ make pkg-config libgtest-dev libgmock-dev libbenchmark-dev libasio-dev netcat-openbsd
          libexpat1-dev qt6-base-dev xvfb xauth python3 python3-venv ser2net libcpp-httplib-dev chromium
          libgrpc++-dev protobuf-compiler-grpc libprotobuf-dev protobuf-compiler xsltproc libxml2-utils
          libxml2-dev libssl-dev openssl libavahi-client-dev python3-grpcio python3-grpc-tools
          libsqlite3-dev libpq-dev postgresql)
PACKAGES+=(prometheus)  # promtool checks docs/alerts.yml
PACKAGES+=(dpkg-dev)    # dpkg-shlibdeps works out the package's Depends
# The dashboard's browser test runs on Node.js; a newer one already installed is kept.
command -v node > /dev/null || PACKAGES+=(nodejs)
command -v npm > /dev/null || PACKAGES+=(npm)

missing=()
for package in "${PACKAGES[@]}"; do
    dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed" ||
        missing+=("$package")
done
if ((${#missing[@]})); then
    echo "Installing: ${missing[*]}"
    SUDO=""
    if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi
    $SUDO apt-get update -qq
    DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq "${missing[@]}"
fi

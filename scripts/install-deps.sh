#!/bin/sh
# Installs everything needed to build and test the Updater (Debian packages only).
# The package list lives here and nowhere else; append new needs to it.
set -e

PACKAGES="
  build-essential cmake pkg-config g++ clang
  libusb-1.0-0-dev libhidapi-dev libcurl4-openssl-dev zlib1g-dev libczmq-dev
  libgtest-dev libgmock-dev libbenchmark-dev
  umockdev libumockdev-dev libcpp-httplib-dev
  lpc21isp imx-usb-loader socat iproute2 util-linux openssl ca-certificates
"

if [ "${UPDATER_SKIP_DEPS:-0}" = 1 ]; then
    echo "install-deps: skipped (UPDATER_SKIP_DEPS=1)"
    exit 0
fi

SUDO=
if [ "$(id -u)" -ne 0 ]; then
    SUDO=sudo
fi

export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update
# shellcheck disable=SC2086 # the list is meant to split into words
$SUDO apt-get install -y $PACKAGES

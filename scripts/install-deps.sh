#!/usr/bin/env bash
# Installs the Debian packages the build needs, only those that are missing.
# Usage: scripts/install-deps.sh [extra-package ...]
set -euo pipefail

packages=(cmake ninja-build g++ pkg-config googletest libgtest-dev libgmock-dev
          nlohmann-json3-dev libcli11-dev libsystemd-dev libbenchmark-dev python3 doxygen
          libmosquitto-dev libssl-dev mosquitto mosquitto-clients openssl
          pybind11-dev python3-dev python3-pytest python3-venv python3-pip python3-setuptools
          libcpp-httplib-dev libjs-dygraphs
          dbus-daemon python3-dbus python3-gi "$@")

missing=()
for package in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$package")
  fi
done

if [ ${#missing[@]} -gt 0 ]; then
  echo "Installing: ${missing[*]}"
  sudo_cmd=""
  if [ "$(id -u)" -ne 0 ]; then sudo_cmd="sudo"; fi
  export DEBIAN_FRONTEND=noninteractive
  $sudo_cmd apt-get update -qq
  $sudo_cmd apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi

#!/usr/bin/env bash
# Installs the Debian packages the project builds, tests and runs with.
# Idempotent: packages already installed are not touched, and when nothing is
# missing no package tool runs at all. Works as root or through sudo.
set -euo pipefail

packages=(
  # toolchain
  build-essential cmake ninja-build pkg-config clang libclang-rt-14-dev
  # libraries
  qt6-base-dev libcurl4-openssl-dev libboost-regex-dev libcpp-httplib-dev libssl-dev
  libgtest-dev libgmock-dev googletest libbenchmark-dev
  # the bundled lookup server's data and picture font
  rime-data-wubi rime-data-stroke unicode-data bzip2 fonts-wqy-microhei
  # test and benchmark peers: a real HTTP proxy, a static web server, a load
  # generator, a virtual display, certificate tools
  tinyproxy nginx-light wrk xvfb xauth openssl curl
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -eq 0 ]; then
  exit 0
fi

echo "setup: installing ${missing[*]}"
if [ "$(id -u)" -eq 0 ]; then
  sudo=()
elif command -v sudo >/dev/null 2>&1; then
  sudo=(sudo)
else
  echo "setup: need root or sudo to install: ${missing[*]}" >&2
  exit 1
fi
export DEBIAN_FRONTEND=noninteractive
"${sudo[@]}" apt-get update -qq
"${sudo[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
# Package installs may start services (nginx, tinyproxy) on their default
# ports; the tests start their own instances and need none of them.
for svc in nginx tinyproxy; do
  "${sudo[@]}" systemctl disable --now "$svc" >/dev/null 2>&1 || \
    "${sudo[@]}" service "$svc" stop >/dev/null 2>&1 || true
done

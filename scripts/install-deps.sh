#!/usr/bin/env bash
# Installs, from Debian's packages only, whatever Tessarin needs to build and test.
# Idempotent: packages already present are left alone, and apt-get runs only when
# something is missing.
set -euo pipefail

packages=(
  build-essential cmake ninja-build pkg-config
  clang libclang-rt-dev clang-format clang-tidy
  qt6-base-dev qt6-base-dev-tools qt6-svg-dev
  libzip-dev libssl-dev zlib1g-dev libdeflate-dev libjpeg62-turbo-dev libsqlite3-dev
  googletest libgtest-dev libgmock-dev
  xvfb xauth 7zip zip unzip time
  fonts-liberation2
  dbus at-spi2-core python3-pyatspi
  desktop-file-utils appstream lintian man-db
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -eq 0 ]; then
  echo "install-deps: everything is installed"
  exit 0
fi

echo "install-deps: installing ${missing[*]}"
sudo_cmd=()
if [ "$(id -u)" -ne 0 ]; then sudo_cmd=(sudo); fi
export DEBIAN_FRONTEND=noninteractive
"${sudo_cmd[@]}" apt-get update -qq
"${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"

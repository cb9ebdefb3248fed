#!/usr/bin/env bash
# Installs every Debian package the build, the tests and the window checks need.
# Idempotent; must run as root (CI and the development machines run as root).
set -euo pipefail

packages=(
  build-essential cmake ninja-build pkg-config git libssl-dev openssl
  clang libclang-rt-14-dev clang-format
  qt6-base-dev qt6-multimedia-dev libgtest-dev libgmock-dev libbenchmark-dev
  libxcb1-dev xvfb xauth x11-utils fonts-ipafont-gothic imagemagick
  python3 python3-aiosmtpd dovecot-pop3d postfix nkf media-types
  libsecret-tools gnome-keyring dbus dbus-x11
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if [ ${#missing[@]} -eq 0 ]; then
  echo "install-deps: all packages present"
  exit 0
fi

if [ "$(id -u)" -ne 0 ]; then
  echo "install-deps: missing packages (${missing[*]}) and not root; run as root" >&2
  exit 1
fi

export DEBIAN_FRONTEND=noninteractive
# Postfix is installed only for its smtp-sink test server: no MTA is configured.
echo "postfix postfix/main_mailer_type select No configuration" | debconf-set-selections
apt-get update -q
apt-get install -y -q --no-install-recommends "${missing[@]}"

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
  spamassassin
  ccache xdotool openbox qt6-translations-l10n
  lintian desktop-file-utils appstream groff-base man-db dpkg-dev
)
# Node.js for the second mail reader of the peer tests (mailparser): the
# machines may already carry a newer one from elsewhere; Debian's only
# when there is none.
command -v node >/dev/null 2>&1 || packages+=(nodejs)
command -v npm >/dev/null 2>&1 || packages+=(npm)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if [ ${#missing[@]} -eq 0 ]; then
  echo "install-deps: all packages present"
else
  if [ "$(id -u)" -ne 0 ]; then
    echo "install-deps: missing packages (${missing[*]}) and not root; run as root" >&2
    exit 1
  fi
  export DEBIAN_FRONTEND=noninteractive
  # Postfix is installed only for its smtp-sink test server: no MTA is configured.
  echo "postfix postfix/main_mailer_type select No configuration" | debconf-set-selections
  apt-get update -q
  apt-get install -y -q --no-install-recommends "${missing[@]}"
fi

# SpamAssassin scores with the rules the package ships in
# /usr/share/spamassassin; the tests run it with local rules only, so no
# sa-update (and no network) is needed.
if ! ls /usr/share/spamassassin/*.cf >/dev/null 2>&1 && ! ls /var/lib/spamassassin/*/*.cf >/dev/null 2>&1; then
  echo "install-deps: spamassassin has no rules in /usr/share/spamassassin" >&2
  exit 1
fi

# mailparser, exactly as package-lock.json pins it, into
# tests/peers/node/node_modules; skipped when that install is current.
node_dir="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)/tests/peers/node"
if [ "$node_dir/package-lock.json" -nt "$node_dir/node_modules/.package-lock.json" ] ||
   [ ! -f "$node_dir/node_modules/mailparser/package.json" ]; then
  (cd "$node_dir" && npm ci --no-audit --no-fund --loglevel=error)
else
  echo "install-deps: mailparser present"
fi

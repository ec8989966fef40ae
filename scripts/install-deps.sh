#!/usr/bin/env bash
# Installs the Debian packages the project needs, when any is missing.
set -euo pipefail
packages=(
  cmake ninja-build g++ clang libclang-rt-14-dev
  libgtest-dev libgmock-dev libbenchmark-dev
  libcli11-dev nlohmann-json3-dev
  # The web console: Boost.Beast/Asio (header-only), Argon2id and random
  # tokens from libsodium; headless Chromium for its browser test.
  libboost-dev libsodium-dev chromium chromium-driver python3-selenium
  # libpq for the change feed of PostgreSQL, found through pkg-config.
  pkg-config
  unixodbc unixodbc-dev libsqliteodbc odbc-postgresql sqlite3 libsqlite3-dev libpq-dev
  postgresql
  libicu-dev icu-devtools libssl-dev
  python3 postfix
  # The package step: dpkg-shlibdeps, file and the package checker.
  dpkg-dev file lintian
)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "installing: ${missing[*]}"
  SUDO=""
  [ "$(id -u)" -eq 0 ] || SUDO=sudo
  $SUDO apt-get update -qq
  # Postfix is a test peer of `quorpolicy serve` only: install it without a
  # system-wide mail configuration (the tests run scratch instances).
  echo "postfix postfix/main_mailer_type select No configuration" | $SUDO debconf-set-selections
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi

#!/usr/bin/env bash
# Installs the build dependencies (Debian packages) and fetches the QuickJS
# sources into the git-ignored .deps/ folder. Safe to run again: it only does
# what is still missing.
set -euo pipefail

ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$ROOT"

QUICKJS_MIN_VERSION=2025.04.26
PACKAGES=(g++ cmake ninja-build libssl-dev libgtest-dev libbenchmark-dev
          esbuild hyperfine xz-utils ca-certificates)

as_root() {
  if [ "$(id -u)" -eq 0 ]; then "$@"; else sudo "$@"; fi
}

missing=()
for pkg in "${PACKAGES[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$pkg")
  fi
done
if [ "${#missing[@]}" -gt 0 ]; then
  echo "setup: installing ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  as_root apt-get update -qq </dev/null
  as_root apt-get install -y -qq --no-install-recommends "${missing[@]}" </dev/null
fi

# A system QuickJS (Debian's libquickjs) is used when it is recent enough.
system_quickjs_ok() {
  local version
  version=$(dpkg-query -W -f='${Version}' libquickjs 2>/dev/null) || return 1
  [ -n "$version" ] || return 1
  dpkg --compare-versions "$version" ge "$QUICKJS_MIN_VERSION" || return 1
  [ -f /usr/include/quickjs/quickjs.h ]
}

if system_quickjs_ok; then
  echo "setup: using the system QuickJS"
  exit 0
fi

if [ -f .deps/quickjs/quickjs.c ] && [ -f .deps/quickjs/VERSION ]; then
  exit 0
fi

# Fetch the Debian source package from the trixie suite of the archive that
# this machine's apt already uses, with a private apt configuration so the
# system's own apt state stays as it is.
archive_uri() {
  local uri=""
  if [ -f /etc/apt/sources.list.d/debian.sources ]; then
    uri=$(awk '/^URIs:/{print $2; exit}' /etc/apt/sources.list.d/debian.sources)
  fi
  if [ -z "$uri" ] && [ -f /etc/apt/sources.list ]; then
    uri=$(awk '$1=="deb" && $0 !~ /security/ {for(i=2;i<=NF;i++) if ($i ~ /^[a-z]+:\/\//) {print $i; exit}}' /etc/apt/sources.list)
  fi
  if [ -z "$uri" ]; then
    uri=$(cat /etc/apt/sources.list.d/*.sources 2>/dev/null | awk '/^URIs:/ && $2 ~ /debian\/?$/ {print $2; exit}')
  fi
  printf '%s' "$uri"
}

URI=$(archive_uri)
if [ -z "$URI" ]; then
  echo "setup: cannot find the Debian archive in the apt sources" >&2
  exit 1
fi

APT_DIR="$ROOT/.deps/apt"
mkdir -p "$APT_DIR/lists/partial" "$APT_DIR/archives/partial"
echo "deb-src [signed-by=/usr/share/keyrings/debian-archive-keyring.gpg] $URI trixie main" > "$APT_DIR/sources.list"
APT_OPTS=(-o "Dir::Etc::sourcelist=$APT_DIR/sources.list"
          -o "Dir::Etc::sourceparts=/dev/null"
          -o "Dir::State::Lists=$APT_DIR/lists"
          -o "Dir::Cache::archives=$APT_DIR/archives"
          -o "APT::Get::List-Cleanup=0"
          -o "APT::Sandbox::User=root")
echo "setup: fetching the quickjs source package"
apt-get "${APT_OPTS[@]}" -qq update </dev/null
(cd .deps && apt-get "${APT_OPTS[@]}" -qq source --download-only quickjs </dev/null)

TARBALL=$(ls .deps/quickjs_*.orig.tar.* 2>/dev/null | sort | tail -n 1)
if [ -z "$TARBALL" ]; then
  echo "setup: the quickjs source package did not download" >&2
  exit 1
fi
rm -rf .deps/quickjs.tmp
mkdir -p .deps/quickjs.tmp
tar -xf "$TARBALL" -C .deps/quickjs.tmp --strip-components=1
rm -rf .deps/quickjs
mv .deps/quickjs.tmp .deps/quickjs
echo "setup: QuickJS $(cat .deps/quickjs/VERSION) in .deps/quickjs"

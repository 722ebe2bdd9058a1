# Shared by scripts/run and scripts/test: install what is missing, configure, build.
set -euo pipefail
ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
BUILD_DIR="${TESSERA_BUILD_DIR:-$ROOT/build}"

TESSERA_PACKAGES=(cmake g++ make pkg-config nlohmann-json3-dev libutfcpp-dev libgtest-dev libgmock-dev
                  libbenchmark-dev curl libcpp-httplib-dev libcli11-dev dpkg-dev chromium)
# What the tests use beyond the build: the package checker, the shells the completion scripts
# are for, systemd's unit checker, setpriv (util-linux) to run the host as the service would,
# python-can to check the UDP-multicast bus against the implementation its format comes from.
TESSERA_TEST_PACKAGES=(lintian zsh bash systemd util-linux python3-can python3-msgpack)

# Installs those of the given packages (default: the build's) that are missing; apt options
# such as --no-install-recommends may come first.
tessera_install_packages() {
  local options=() wanted=() missing=()
  while [ $# -gt 0 ] && [ "${1#-}" != "$1" ]; do options+=("$1"); shift; done
  if [ $# -gt 0 ]; then wanted=("$@"); else wanted=("${TESSERA_PACKAGES[@]}"); fi
  for p in "${wanted[@]}"; do
    dpkg -s "$p" >/dev/null 2>&1 || missing+=("$p")
  done
  if ((${#missing[@]})); then
    echo "[scripts] installing: ${missing[*]}"
    local sudo=""
    [ "$(id -u)" -eq 0 ] || sudo="sudo"
    $sudo apt-get update -qq
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq "${options[@]}" "${missing[@]}" >/dev/null
  fi
}

# The browser page is bundled by esbuild from web/, whose packages come from the npm registry
# as its lock file pins them. Node.js and npm come from Debian when the machine has none.
tessera_install_page_tools() {
  local tools=()
  command -v node >/dev/null 2>&1 || tools+=(nodejs)
  command -v npm >/dev/null 2>&1 || tools+=(npm)
  if ((${#tools[@]})); then tessera_install_packages "${tools[@]}"; fi
  local lock="$ROOT/web/package-lock.json" installed="$ROOT/web/node_modules/.package-lock.json"
  if [ ! -f "$installed" ] || [ "$lock" -nt "$installed" ]; then
    echo "[scripts] installing the browser page's packages (npm ci)"
    (cd "$ROOT/web" && npm ci --no-audit --no-fund --loglevel=error)
  fi
}

tessera_build() {
  tessera_install_packages
  tessera_install_page_tools
  if [ ! -f "$BUILD_DIR/CMakeCache.txt" ]; then
    # ccache, where a developer has it, makes a second work tree's first build a matter of seconds.
    local launcher=()
    if command -v ccache >/dev/null 2>&1; then
      launcher=(-DCMAKE_C_COMPILER_LAUNCHER=ccache -DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
    fi
    cmake -S "$ROOT" -B "$BUILD_DIR" -DCMAKE_BUILD_TYPE=RelWithDebInfo "${launcher[@]}" >/dev/null
  fi
  cmake --build "$BUILD_DIR" -j"$(nproc)" "$@"
}

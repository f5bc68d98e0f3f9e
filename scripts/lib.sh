# Shared by the scripts: installs the Debian packages the project needs.

# Debian packages needed to build, test, run the demo and the benchmark
# (openssl makes the TLS test server's certificates; mariadb-server ships its
# auth_ed25519 plugin, libmariadb3 the client plugins).
TABFETCH_PACKAGES=(g++ make cmake pkg-config googletest libgtest-dev libgmock-dev
                   libmariadb-dev mariadb-server mariadb-client clang valgrind util-linux
                   openssl)

# Installs whatever of TABFETCH_PACKAGES is missing (apt-get, as root or with
# sudo). Returns non-zero when something is missing and cannot be installed.
ensure_packages() {
  local missing=() pkg
  for pkg in "${TABFETCH_PACKAGES[@]}" "$@"; do
    dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q 'install ok installed' ||
      missing+=("$pkg")
  done
  [ ${#missing[@]} -eq 0 ] && return 0
  echo "installing: ${missing[*]}"
  local sudo=()
  if [ "$(id -u)" != 0 ]; then
    if command -v sudo >/dev/null 2>&1; then sudo=(sudo); else
      echo "missing packages and not root: ${missing[*]}" >&2; return 1
    fi
  fi
  export DEBIAN_FRONTEND=noninteractive
  # The package server may refuse to start a service inside a container; the
  # tests start their own server, so a failing service start is harmless.
  "${sudo[@]}" apt-get update -q >/dev/null || true
  if ! "${sudo[@]}" apt-get install -y -q --no-install-recommends "${missing[@]}"; then
    # mariadb-server's post-install may fail where no init system runs; the
    # binaries are unpacked all the same.
    "${sudo[@]}" dpkg --configure -a >/dev/null 2>&1 || true
    for pkg in "${missing[@]}"; do
      dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q 'install ok' || {
        echo "could not install $pkg" >&2; return 1; }
    done
  fi
  return 0
}

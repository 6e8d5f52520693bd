# shellcheck shell=sh
# Sourced by scripts/setup and scripts/package: Debian packages, installed
# as root or, for another user, through sudo.
if [ "$(id -u)" -ne 0 ]; then SUDO=sudo; else SUDO=; fi
export DEBIAN_FRONTEND=noninteractive

# is_installed PACKAGE: true when dpkg has PACKAGE installed.
is_installed() {
  case $(dpkg-query -W -f='${Status}' "$1" 2>/dev/null || true) in
    *" installed") return 0 ;;
    *) return 1 ;;
  esac
}

# apt_install ARGS...: `apt-get ARGS` without recommended packages, and again
# with fresh package lists when the first try fails (a fresh machine may have
# none yet).
apt_install() {
  $SUDO apt-get -y --no-install-recommends "$@" ||
    { $SUDO apt-get update && $SUDO apt-get -y --no-install-recommends "$@"; }
}

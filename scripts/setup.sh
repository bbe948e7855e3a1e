#!/bin/sh
# Installs the Debian packages the project needs, only those missing; quiet
# when everything is there. Run as root (or through sudo).
set -eu

packages="g++ cmake make python3 libgtest-dev libgmock-dev libicu-dev qt6-base-dev \
xvfb xauth time clang-14 libclang-rt-14-dev libbenchmark-dev"

missing=""
for p in $packages; do
    status=$(dpkg-query -W -f='${Status}' "$p" 2>/dev/null || true)
    case "$status" in
        *"install ok installed"*) ;;
        *) missing="$missing $p" ;;
    esac
done

if [ -n "$missing" ]; then
    echo "Installing:$missing"
    SUDO=""
    [ "$(id -u)" -eq 0 ] || SUDO="sudo"
    export DEBIAN_FRONTEND=noninteractive
    $SUDO apt-get update -qq
    # shellcheck disable=SC2086
    $SUDO apt-get install -y -qq --no-install-recommends $missing >/dev/null
fi

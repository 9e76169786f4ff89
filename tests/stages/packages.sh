#!/usr/bin/env bash
# The Debian packages the host-side stages need, installed where missing.
source "$(dirname "${BASH_SOURCE[0]}")/lib.sh"
stage "System packages"
ensure_apt_packages "${APT_PACKAGES[@]}"

#!/usr/bin/env bash
# Installs what is missing, builds and runs the whole test suite.
source "$(dirname "$0")/tools/common.sh"
# An exFAT drive for the test of recovery on drives without permissions (skipped without).
install_missing exfatprogs exfat-fuse
build
cd build
QT_QPA_PLATFORM=offscreen ctest --output-on-failure

#!/usr/bin/env bash
# Installs what is missing, builds and runs the whole test suite.
source "$(dirname "$0")/tools/common.sh"
install_missing
build
cd build
QT_QPA_PLATFORM=offscreen ctest --output-on-failure

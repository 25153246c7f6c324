#!/usr/bin/env bash
# Every test, from a bare Debian 12 machine: installs what is missing, builds the
# portable core and runs its suites natively, then builds the Windows program and
# runs its suites under Wine.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh

cmake --preset linux
cmake --build --preset linux
ctest --preset linux

scripts/test-windows.sh

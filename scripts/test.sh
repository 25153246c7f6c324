#!/usr/bin/env bash
# Every test, from a bare Debian 12 machine: installs what is missing, builds the
# portable core and runs its suites natively, then builds the Windows program and
# runs its suites under Wine, and then once more from the Windows test kit, as on
# a Windows PC (tests/kit/kit_test.sh).
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh

cmake --preset linux
cmake --build --preset linux
ctest --preset linux

scripts/test-windows.sh

rm -rf build/windows-test-kit
scripts/windows-test-kit.sh build/windows-test-kit
tests/kit/kit_test.sh build/windows-test-kit/tervan58-windows-tests-*.zip build/windows

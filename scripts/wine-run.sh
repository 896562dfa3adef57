#!/usr/bin/env bash
# CMake's emulator for the win32 build: runs a Windows test binary under Wine.
exec "$(dirname "$0")/wine-env.sh" run "$@"

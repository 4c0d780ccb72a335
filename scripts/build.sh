#!/usr/bin/env bash
# Configures and builds the project, warnings as errors. With --sanitize, a
# separate tree under AddressSanitizer and UndefinedBehaviorSanitizer; with
# --release, a Release tree as a packager builds it.
set -euo pipefail
cd "$(dirname "$0")/.."

dir=build
flags=(-DCMAKE_BUILD_TYPE=RelWithDebInfo -DGNIS_WERROR=ON -DGNIS_BENCHMARKS=ON)
if [ "${1:-}" = "--sanitize" ]; then
  dir=build-asan
  flags=(-DCMAKE_BUILD_TYPE=Debug -DGNIS_SANITIZE=ON -DGNIS_WERROR=ON)
elif [ "${1:-}" = "--release" ]; then
  dir=build-release
  flags=(-DCMAKE_BUILD_TYPE=Release -DGNIS_WERROR=ON -DBUILD_TESTING=OFF)
fi

cmake -S . -B "$dir" "${flags[@]}" >/dev/null
cmake --build "$dir" -j"$(nproc)"
echo "$dir"

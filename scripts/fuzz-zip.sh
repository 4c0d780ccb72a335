#!/usr/bin/env bash
# Builds the zip reader's fuzz target with clang (libFuzzer, ASan, UBSan) through CMake and
# runs it for a bounded time on a seed corpus of archives made by other programs.
# Usage: scripts/fuzz-zip.sh [SECONDS]   (default 60). A crash exits non-zero.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-60}
out=build-fuzz
mkdir -p "$out"

cmake -S . -B "$out" -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE=RelWithDebInfo -DGNIS_FUZZ=ON \
  -DBUILD_TESTING=OFF >/dev/null
cmake --build "$out" --target fuzz_zip -j"$(nproc)" >/dev/null
cp "$out/tests/fuzz_zip" "$out/fuzz_zip"

# Seeds: small archives of every style the tests use.
corpus="$out/corpus"
rm -rf "$corpus" "$out/src"
mkdir -p "$corpus" "$out/src/dir/sub"
printf 'FEATURE_ID|FEATURE_NAME|FEATURE_CLASS\r\n1|Mount Greylock|Summit\r\n' > "$out/src/text.txt"
printf 'abc' > "$out/src/dir/sub/abc.txt"
: > "$out/src/empty.txt"
for style in stored deflated streamed comment bzip2 empty; do
  python3 tests/support/make_zip.py "$style" "$out/src" "$corpus/$style.zip"
done
(cd "$out/src" && zip -q -r "../corpus/infozip.zip" . && zip -q -r -fz "../corpus/zip64.zip" . && zip -q -P pw "../corpus/encrypted.zip" text.txt)
(cd "$out/src" && ln -sf text.txt link && zip -q -y "../corpus/symlink.zip" link text.txt && rm link)

log="$out/fuzz.log"
if ! "$out/fuzz_zip" "$corpus" -max_total_time="$seconds" -max_len=4096 -timeout=20 -rss_limit_mb=1024 \
    -print_final_stats=1 >"$log" 2>&1; then
  tail -n 100 "$log"
  echo "fuzz-zip: the zip reader crashed or misbehaved; the input is saved as $out/crash-* or $PWD/crash-*" >&2
  exit 1
fi
grep -E '^Done|stat::(number_of_executed_units|peak_rss_mb)' "$log"

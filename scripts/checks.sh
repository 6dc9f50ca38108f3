#!/usr/bin/env bash
# What CI runs after the tests: the format and static analysis of the product code, the
# core, the command line and their tests built with the address and undefined-behaviour
# checkers, then each fuzz target on its starting inputs. Any finding fails.
# FUZZ_SECONDS sets the time per target (12: the whole CI run stays under 30 minutes).
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh --checks
jobs="$(nproc)"
supp="$PWD/.ci/lsan.supp"
# Readable stack traces in sanitizer reports (clang's symbolizer has a versioned name).
for symbolizer in /usr/bin/llvm-symbolizer /usr/lib/llvm-14/bin/llvm-symbolizer; do
  if [ -x "$symbolizer" ]; then export ASAN_SYMBOLIZER_PATH="$symbolizer"; break; fi
done

# The product code: everything but the tests, benchmarks and fuzz targets.
mapfile -t product < <(git ls-files 'core/*.cpp' 'core/*.h' 'app/*.cpp' 'app/*.h' \
  'controls/*.cpp' 'controls/*.h' 'cli/*.cpp' 'cli/*.h' 'sim/*.cpp' 'sim/*.h' 'tools/*.cpp')

echo "== format"
# The tests, fuzz targets and benchmarks are formatted like the product.
mapfile -t others < <(git ls-files 'tests/*.cpp' 'tests/*.h' 'fuzz/*.cpp' 'fuzz/*.h' 'bench/*.cpp' 'bench/*.h')
clang-format --dry-run -Werror "${product[@]}" "${others[@]}"

echo "== static analysis"
# The compile commands of the test build (scripts/test.sh), or of a build made here.
[ -f build/compile_commands.json ] || { cmake -S . -B build >/dev/null && cmake --build build -j"$jobs" >/dev/null; }
# Every product file passed at the commit .ci/tidy-base names (a whole run takes a quarter of
# an hour on two cores): the files changed since, and those including a header changed since,
# are read again. FULL_TIDY=1, or a history without that commit, reads them all.
mapfile -t sources < <(printf '%s\n' "${product[@]}" | grep '\.cpp$')
base="$(cat .ci/tidy-base 2>/dev/null || true)"
if [ -z "${FULL_TIDY:-}" ] && [ -n "$base" ] && git cat-file -e "$base^{commit}" 2>/dev/null; then
  mapfile -t changed < <(git diff --name-only "$base" -- "${product[@]}"; git ls-files --others --exclude-standard -- "${product[@]}")
  keep=()
  for source in "${sources[@]}"; do
    for file in "${changed[@]}"; do
      if [ "$source" = "$file" ] || { [[ "$file" == *.h ]] && grep -q "$(basename "$file")\"" "$source"; }; then
        keep+=("$source")
        break
      fi
    done
  done
  sources=("${keep[@]}")
  echo "clang-tidy: ${#sources[@]} files changed since $(git rev-parse --short "$base") (FULL_TIDY=1 for all)"
fi
: > build/clang-tidy.log
if [ "${#sources[@]}" -gt 0 ]; then
  printf '%s\n' "${sources[@]}" | xargs -P"$jobs" -n1 clang-tidy -p build --quiet > build/clang-tidy.log 2>&1 || true
fi
if grep -E '(warning|error):' build/clang-tidy.log; then
  echo "checks: clang-tidy found the above"
  exit 1
fi

echo "== sanitizers"
cmake -S . -B build-asan -DQUORVIN_SANITIZE=ON -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build-asan -j"$jobs" --target quorvin-extract test_textcuts test_fetch test_driver \
  test_sites test_site_update test_cli test_download test_ranges >/dev/null
(cd build-asan &&
  ASAN_OPTIONS=detect_leaks=1:abort_on_error=0 LSAN_OPTIONS="suppressions=$supp" \
  UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
  ctest --output-on-failure --timeout 300 -j"$jobs" -R '^test_(textcuts|fetch|driver|sites|site_update|cli|download|ranges)$')

echo "== fuzzing"
CC=clang CXX=clang++ cmake -S . -B build-fuzz -DQUORVIN_FUZZ=ON -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build-fuzz -j"$jobs" >/dev/null
seconds="${FUZZ_SECONDS:-12}"
targets=(fuzz_sites fuzz_descriptions fuzz_steps fuzz_textcuts fuzz_decode fuzz_json fuzz_bundle fuzz_media)
# One target's run; its exit status is kept beside its log.
fuzz_one() {
  local target="$1" work="build-fuzz/corpus-run/$1" rss=2048 dict=()
  mkdir -p "$work"
  # Any crash, sanitizer report, leak in our code or input slower than 10 s fails the run;
  # descriptions built from the language must also stay within 512 MB, caps and all.
  [ "$target" = fuzz_steps ] && rss=512
  [ -f "fuzz/$target.dict" ] && dict=(-dict="fuzz/$target.dict")
  LSAN_OPTIONS="suppressions=$supp" build-fuzz/fuzz/"$target" "${dict[@]}" -max_total_time="$seconds" \
    -timeout=10 -rss_limit_mb="$rss" -print_final_stats=1 -artifact_prefix="build-fuzz/$target-" \
    "$work" "fuzz/corpus/$target" > "build-fuzz/$target.log" 2>&1 && echo 0 > "build-fuzz/$target.status" ||
    echo $? > "build-fuzz/$target.status"
}
# As many targets at once as there are processors.
for target in "${targets[@]}"; do
  while [ "$(jobs -rp | wc -l)" -ge "$jobs" ]; do wait -n || true; done
  fuzz_one "$target" &
done
wait
for target in "${targets[@]}"; do
  echo "-- $target, ${seconds} s"
  grep -E '^(stat::number_of_executed_units|Done|==[0-9]+==)' "build-fuzz/$target.log" || true
  if [ "$(cat "build-fuzz/$target.status")" -ne 0 ] || ls build-fuzz/"$target"-* >/dev/null 2>&1; then
    tail -40 "build-fuzz/$target.log"
    echo "checks: $target found a failing input:" build-fuzz/"$target"-*
    exit 1
  fi
done
echo "checks: all passed"

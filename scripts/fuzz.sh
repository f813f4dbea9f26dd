#!/usr/bin/env bash
# The libFuzzer targets in tests/fuzz, built with clang, ASan and UBSan in build-fuzz/.
#   scripts/fuzz.sh build    builds them
#   scripts/fuzz.sh run      runs each for its fixed number of executions, from the seeds in tests/fuzz/corpus
# A crash stops the run with the input that caused it saved in build-fuzz/; make it a regular test.
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"
FUZZ_DIR="$ROOT/build-fuzz"

# target, executions, longest input
TARGETS=(
  "replies 10000000 64"
  "image_walk 1000000 4096"
  "packer 100000 4096"
  "collector 1000000 256"
)

case "${1:-}" in
build)
  if [ ! -f "$FUZZ_DIR/build.ninja" ]; then
    CC=clang CXX=clang++ cmake -S "$ROOT" -B "$FUZZ_DIR" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DUPDATER_FUZZ=ON
  fi
  cmake --build "$FUZZ_DIR" --parallel "$(nproc)" --target fuzz_replies fuzz_image_walk fuzz_packer fuzz_collector
  ;;
run)
  for entry in "${TARGETS[@]}"; do
    read -r name runs maxLen <<<"$entry"
    work="$FUZZ_DIR/corpus/$name"
    mkdir -p "$work"
    start=$SECONDS
    (cd "$FUZZ_DIR" && ./tests/fuzz/fuzz_"$name" -runs="$runs" -max_len="$maxLen" -print_final_stats=1 \
      "$work" "$ROOT/tests/fuzz/corpus/$name" 2>"$FUZZ_DIR/fuzz_$name.log") || {
      tail -n 40 "$FUZZ_DIR/fuzz_$name.log"
      echo "fuzz_$name found a fault: see $FUZZ_DIR/fuzz_$name.log"
      exit 1
    }
    seconds=$((SECONDS - start))
    echo "fuzz_$name: $runs executions in $seconds s ($((runs / (seconds > 0 ? seconds : 1))) per second)"
  done
  ;;
*)
  echo "usage: scripts/fuzz.sh build|run" >&2
  exit 2
  ;;
esac

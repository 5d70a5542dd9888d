#!/usr/bin/env bash
# Runs every fuzz target for SECONDS each, or (--replay) runs each target
# once over its committed corpus, as CI does so that a fixed crash stays
# fixed. New inputs a run finds go to the build folder's corpus; crashes,
# leaks and hangs (over 2 s an input) are written there as artifacts.
#   run-fuzz.sh [--replay] BUILD_FOLDER [SECONDS]
set -uo pipefail
replay=0
if [ "${1:-}" = "--replay" ]; then replay=1; shift; fi
bin=$(cd "$1" && pwd)
seconds=${2:-60}
here=$(cd "$(dirname "$0")" && pwd)
export LSAN_OPTIONS="suppressions=$here/lsan.supp${LSAN_OPTIONS:+:$LSAN_OPTIONS}"
targets="mft_file volume_image container journal run_list lznt1 security partition vmdk index options"
failed=0
for target in $targets; do
  committed=$here/corpus/$target
  dict=$here/dict/ntfs.dict
  [ "$target" = options ] && dict=$here/dict/options.dict
  if [ $replay -eq 1 ]; then
    files=$(find "$committed" -type f | sort)
    if ! "$bin/${target}_fuzz" -timeout=10 -close_fd_mask=1 $files > "$bin/$target.replay.log" 2>&1; then
      echo "$target: FAILED on its corpus (see $bin/$target.replay.log)"; failed=1
    else
      echo "$target: $(echo "$files" | wc -l) inputs replayed"
    fi
    continue
  fi
  found=$bin/corpus/$target
  mkdir -p "$found" "$bin/artifacts"
  "$bin/${target}_fuzz" "$found" "$committed" -dict="$dict" -max_total_time="$seconds" -timeout=2 \
    -rss_limit_mb=2048 -close_fd_mask=1 -print_final_stats=1 \
    -artifact_prefix="$bin/artifacts/$target-" > "$bin/$target.log" 2>&1
  status=$?
  stats=$(grep -E '^#[0-9]+.*(cov|ft):' "$bin/$target.log" | tail -1 | sed -E 's/^#([0-9]+)\s+\S+\s+/execs \1 /')
  if [ $status -ne 0 ]; then
    echo "$target: FOUND A PROBLEM (status $status; see $bin/$target.log and $bin/artifacts/)"; failed=1
  else
    echo "$target: ${seconds}s, $stats"
  fi
done
exit $failed

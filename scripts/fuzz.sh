#!/usr/bin/env bash
# Builds the libFuzzer targets (the "fuzz" preset: clang with AddressSanitizer
# and UndefinedBehaviorSanitizer) and runs each one on a copy of its seed
# corpus for the given time. Prints the executions per target and whether it
# found anything; a finding's input is kept under build/fuzz/findings/.
# Usage: scripts/fuzz.sh [seconds-per-target, default 600] [target...]
#        (every target when none is named)
set -euo pipefail
cd "$(dirname "$0")/.."

seconds="${1:-600}"
if ! [[ "$seconds" =~ ^[0-9]+$ ]] || [ "$seconds" -eq 0 ]; then
    echo "usage: $0 [seconds-per-target]" >&2
    exit 2
fi

all_targets=(fuzz_link fuzz_receive fuzz_settings_report fuzz_frames fuzz_number_list fuzz_cap)
shift || true
targets=("$@")
[ ${#targets[@]} -eq 0 ] && targets=("${all_targets[@]}")
for t in "${targets[@]}"; do
    if ! printf '%s\n' "${all_targets[@]}" | grep -qx "$t"; then
        echo "unknown target: $t (known: ${all_targets[*]})" >&2
        exit 2
    fi
done

# The project's own packages (Qt is found by every configure), clang and the
# runtime that holds libFuzzer.
scripts/install-deps.sh fuzz

cmake --preset fuzz >/dev/null
cmake --build --preset fuzz --target "${targets[@]}"

bin=build/fuzz/fuzz
work=build/fuzz/fuzz-run
findings=build/fuzz/findings
mkdir -p "$work" "$findings"

export ASAN_OPTIONS="${ASAN_OPTIONS:-detect_leaks=1}"
export UBSAN_OPTIONS="${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}"

declare -A execs result
status=0
for t in "${targets[@]}"; do
    corpus="$work/$t/corpus"
    rm -rf "${work:?}/$t" "${findings:?}/$t"
    mkdir -p "$corpus" "$findings/$t"
    cp fuzz/corpus/"$t"/* "$corpus"/
    log="$work/$t/fuzz.log"
    echo "== $t: ${seconds}s"
    rc=0
    "$bin/$t" "$corpus" \
        -max_total_time="$seconds" \
        -print_final_stats=1 \
        -timeout=10 \
        -artifact_prefix="$findings/$t/" \
        >"$log" 2>&1 || rc=$?
    execs[$t]="$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -1)"
    found="$(find "$findings/$t" -type f | head -1)"
    if [ "$rc" -ne 0 ] || [ -n "$found" ]; then
        result[$t]="FOUND (exit $rc) ${found:-see $log}"
        status=1
        # The report and stack of the finding.
        grep -n -A40 -m1 -E '^==[0-9]+==ERROR|runtime error|invariant broken|deadly signal' "$log" || tail -40 "$log"
    else
        result[$t]="nothing found"
    fi
done

echo
printf '%-22s %14s  %s\n' target executions result
for t in "${targets[@]}"; do
    printf '%-22s %14s  %s\n' "$t" "${execs[$t]:-?}" "${result[$t]}"
done
exit "$status"

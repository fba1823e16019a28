#!/usr/bin/env bash
# Builds the release preset, runs every benchmark and writes the figures, the
# targets and the machine to bench/RESULTS.md. The soak run takes 10 minutes;
# SOAK_SECONDS=N shortens it.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
cmake --preset release >/dev/null
cmake --build --preset release
out=bench/RESULTS.md
bin=build/release/bench
export QT_QPA_PLATFORM=offscreen

run() {  # name, target text, command...
    local name="$1" target="$2"
    shift 2
    echo "running $name"
    {
        echo "### $name"
        echo
        echo "Target: $target"
        echo
        echo '```'
        "$@" 2>&1 | grep -vE 'XDG_RUNTIME_DIR|propagateSizeHints' || true
        echo '```'
        echo
    } >>"$out"
}

{
    echo "# Benchmark results"
    echo
    echo "Written by \`scripts/bench.sh\` on $(date -u '+%Y-%m-%d %H:%M UTC'), release build."
    echo
    echo "Machine: $(nproc) cores, $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2 | sed 's/^ //'),"
    echo "$(awk '/MemTotal/ {printf "%.0f GiB", $2/1048576}' /proc/meminfo) memory, Linux $(uname -r)."
    echo "The load runs on the same machine, in a child process."
    echo
} >"$out"

run "Registration storm" "10,000 terminals registered within 2 s (median of 3 runs); table walk of 10,000 positions <= 5 ms" \
    "$bin/bench_registration_storm"
run "Memory per idle terminal" "RSS growth <= 4 KiB per idle registered terminal" "$bin/bench_memory"
run "Descriptor limit" "5,000 terminals registered by a service started under a soft descriptor limit of 1024" \
    "$bin/bench_descriptor_limit"
run "Ingest" "Dovrik's rate >= 70 % of a bare reader's, 1,000 terminals, 100-byte messages" "$bin/bench_ingest"
run "Send fan-out" "(reported) DSSendData to 1,000 terminals" "$bin/bench_fanout"
run "Settings report parse" "< 50 us per complete report" "$bin/bench_parser"
run "Engine path" "EnqueueCommand to the frame on the wire < 1 ms" "$bin/bench_engine_path"
run "Group jobs" "play content < 1024 bytes to 1,000 terminals < 3 s, to 10,000 < 15 s with < 1 KiB per terminal; 3,000 bytes to 1,000 < 5 s" \
    "$bin/bench_group"
run "Group job from the window" "10,000 terminals: the window thread never stalls over 50 ms" \
    "$bin/bench_group_window"
run "Window" "start-up < 1 s; refresh of 10,000 terminals <= 50 ms; 50,000 messages drained at >= 20,000/s with no tick over 50 ms; no tick over 50 ms while 1,000 terminals send" \
    "$bin/bench_gui"
run "Configuration pages" "fill of grid and lists < 30 ms; a save adds nothing beyond answers and polls" "$bin/bench_config"
run "Stop and start under load" "100 cycles with 1,000 terminals reconnecting at once: no crash, no leak, no stuck thread" \
    "$bin/bench_stop_start"
run "Soak and faults" "2,000 terminals for ${SOAK_SECONDS:-600} s: 0 lost, duplicated or reordered messages; RSS growth after warm-up < 1 %; descriptors flat; every job within its time limit" \
    "$bin/pelmora-soak" --duration "${SOAK_SECONDS:-600}"
echo "wrote $out"

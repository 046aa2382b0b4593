#!/usr/bin/env bash
# Builds the benchmark (Release, no sanitizers) and prints what Zelbridge adds
# to a driver call: instructions per call over the same driver function called
# directly, counted by callgrind (the same count on a busy machine as on an
# idle one), and heap allocations per call; then Google Benchmark's timings,
# which vary with the machine. Extra arguments go to Google Benchmark.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
cmake --preset bench >/dev/null
cmake --build --preset bench >/dev/null
bench=build/bench/bin/zelbridge_benchmark
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# Instructions of CALLS calls of one kind: only its loop function is counted.
instructions() {
    local kind=$1 loop=$2 calls=$3
    valgrind --tool=callgrind --callgrind-out-file="$work/out" --toggle-collect="*::$loop(*" \
        "$bench" --count "$kind" "$calls" >"$work/stdout" 2>"$work/stderr" || { cat "$work/stderr"; exit 1; }
    awk '/^(summary|totals):/ { print $2; exit }' "$work/out"
}

# Per call: the difference between 20,000 and 10,000 calls, so that the
# loop's entry and the first call's own work cancel out.
per_call() {
    local low high
    low=$(instructions "$1" "$2" 10000)
    high=$(instructions "$1" "$2" 20000)
    echo $(((high - low) / 10000))
}

allocations_per_call() {
    "$bench" --count "$1" 100000 | awk '{ printf "%g", $4 / $2 }'
}

echo "Instructions per call (valgrind --tool=callgrind), trace off:"
echo
echo "| call | direct | through Zelbridge | over direct | heap allocations per call |"
echo "|---|---|---|---|---|"
while IFS='|' read -r label direct_kind direct_loop kind loop; do
    direct=$(per_call "$direct_kind" "$direct_loop")
    bridged=$(per_call "$kind" "$loop")
    printf '| %s | %d | %d | +%d | %s |\n' "$label" "$direct" "$bridged" $((bridged - direct)) "$(allocations_per_call "$kind")"
done <<'CALLS'
generic `IsConnected(index)`, timed|direct-IsConnected|DirectIsConnected|generic-IsConnected|GenericIsConnected
generic `InterfaceSetupDlg(index, w)`, untimed|direct-InterfaceSetupDlg|DirectInterfaceSetupDlg|generic-InterfaceSetupDlg|GenericInterfaceSetupDlg
family `M329_IsConnected(id)`, library loaded|direct-M329_IsConnected|DirectFamilyIsConnected|family-M329_IsConnected|FamilyIsConnected
graph `QXGraph3DAddDataPoint(w, w, w, d)`, library loaded|direct-QXGraph3DAddDataPoint|DirectAddDataPoint|graph-QXGraph3DAddDataPoint|GraphAddDataPoint
CALLS
echo
echo "The timer of a timed call reads the tick count twice: $(per_call two-tick-reads TwoTickReads) instructions here."

echo
command=("$bench" --benchmark_repetitions=5 --benchmark_report_aggregates_only=true "$@")
echo "Timings: ${command[*]}"
"${command[@]}"

# The measures that the benchmark scripts share; sourced, not run.

# Mean wall time of a command over <runs> runs, in milliseconds.
#   mean_ms <runs> <command>...
mean_ms() {
    local runs=$1 start end
    shift
    start=$(date +%s%N)
    for ((i = 0; i < runs; i++)); do "$@" >/dev/null 2>&1 || true; done
    end=$(date +%s%N)
    echo "scale=3; ($end - $start) / $runs / 1000000" | bc
}

# CPU milliseconds of one run (perf's task-clock), or with mode callgrind the instructions
# it executes (repeatable on a busy machine), on a line of its own.
#   cost perf|callgrind <command>...
cost() {
    local mode=$1
    shift
    if [ "$mode" = perf ]; then
        perf stat -x, -e task-clock "$@" 2>&1 >/dev/null | awk -F, '/task-clock/ { printf "%.1f\n", $1 }'
    else
        valgrind --tool=callgrind --callgrind-out-file=/dev/null "$@" 2>&1 >/dev/null |
            awk '/Collected/ { print $4 }'
    fi
}

# The median of the numbers on standard input, one a line, printed with the format
# (default %.1f).
median() {
    sort -n | awk -v f="${1:-%.1f}" 'NF { v[++n] = $1 }
        END { printf f, (n % 2) ? v[(n + 1) / 2] : (v[n / 2] + v[n / 2 + 1]) / 2 }'
}

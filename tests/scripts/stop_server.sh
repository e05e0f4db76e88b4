# Sourced by the scripts that run a private server for the tests (snmp_agent.sh,
# ../browser/prometheus.sh): stop_server <pid file> ends the process it names (the
# `timeout` that runs the server, which passes the signal on) and waits, at most 8 s,
# until it is gone.
stop_server() {
    pid=$(cat "$1" 2>/dev/null) || return 0
    kill "$pid" 2>/dev/null
    for wait in $(seq 80); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
    rm -f "$1"
}

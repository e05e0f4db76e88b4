#!/bin/sh
# A private snmpd for the SNMP module's tests and benchmark: listening on 127.0.0.1 only,
# on a free high port, in the foreground under a time limit (so it ends even when its
# caller dies), reading only the configuration given here (no system files, no MIBs).
#   snmp_agent.sh <dir> start <seconds>   runs snmpd with <dir>/agent.conf plus the
#                                         listening address; the port goes to <dir>/port;
#                                         exit status 0 once the agent answers
#   snmp_agent.sh <dir> stop              stops it and waits until it is gone
#   snmp_agent.sh <dir> run <command...>  runs a net-snmp tool as the tests see the agent
set -u
dir=$1
export MIBS= SNMP_PERSISTENT_DIR="$dir/persist" SNMPCONFPATH="$dir/none"
case $2 in
start)
    community=$(awk '$1 == "rocommunity" { print $2; exit }' "$dir/agent.conf")
    for attempt in 1 2 3 4 5 6 7 8; do
        port=$(shuf -i 20000-59999 -n 1)
        { echo "agentaddress udp:127.0.0.1:$port"; cat "$dir/agent.conf"; } >"$dir/snmpd.conf"
        timeout "$3" snmpd -f -C -c "$dir/snmpd.conf" -Lf "$dir/snmpd.log" \
            </dev/null >/dev/null 2>&1 &
        echo $! >"$dir/snmpd.pid"
        for wait in $(seq 50); do
            if snmpget -v1 -c "$community" -r0 -t0.1 "127.0.0.1:$port" .1.3.6.1.2.1.1.3.0 \
                >/dev/null 2>&1; then
                echo "$port" >"$dir/port"
                exit 0
            fi
            kill -0 "$(cat "$dir/snmpd.pid")" 2>/dev/null || break # the port was taken
        done
        "$0" "$dir" stop
    done
    exit 1
    ;;
stop)
    . "$(dirname "$0")/stop_server.sh"
    stop_server "$dir/snmpd.pid"
    ;;
run)
    shift 2
    exec "$@"
    ;;
esac

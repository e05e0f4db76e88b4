#!/usr/bin/env bash
# A walk of a 600-object subtree through the SNMP module against snmpwalk -v1 of the same
# subtree, both from the same private snmpd on 127.0.0.1 (tests/scripts/snmp_agent.sh).
# Prints objects per second of the fastest walk and of all walks: the module's walk()
# calls in one process, and snmpwalk's whole processes (start-up included).
#   bench/snmp.sh [rounds]        (after tools/build.sh; BUILD_DIR=<folder> for another build)
set -euo pipefail
cd "$(dirname "$0")/.."
rounds="${1:-50}"
objects=600
b=$PWD/${BUILD_DIR:-build}
agent=$PWD/tests/scripts/snmp_agent.sh
work=$(mktemp -d)
trap 'sh "$agent" "$work" stop; rm -rf "$work"' EXIT

"$b/capsule-pack" bench/snmp-app "$work/snmp-app" >/dev/null
chmod +x "$work/snmp-app"
{
    echo "rocommunity public 127.0.0.1"
    for i in $(seq 1 $objects); do echo "override .1.3.6.1.4.1.99999.$i integer $i"; done
} >"$work/agent.conf"
sh "$agent" "$work" start 600 || { echo "the agent did not start"; exit 1; }
peer=127.0.0.1:$(cat "$work/port")
root=.1.3.6.1.4.1.99999

now() { date +%s%N; }
rate() { echo "$1 * 1000000000 / $2" | bc; }

# The module: every walk in one process, each walk call timed.
"$work/snmp-app" "$b/bin/msnmp.so" "$peer" "$root" "$rounds" >"$work/out"
read -r got best total <"$work/out"
[ "$got" -eq $((objects * rounds)) ] || { echo "module: wrong count: $(cat "$work/out")"; exit 1; }

# snmpwalk: one process per walk, each timed whole (start-up included).
toolBest=0 toolTotal=0
for i in $(seq 1 "$rounds"); do
    start=$(now)
    MIBS= snmpwalk -v1 -c public -On "$peer" "$root" >"$work/walk"
    took=$(($(now) - start))
    toolTotal=$((toolTotal + took))
    [ "$toolBest" -eq 0 ] || [ "$took" -lt "$toolBest" ] && toolBest=$took
    [ "$(wc -l <"$work/walk")" -eq $objects ] || { echo "snmpwalk: wrong count"; exit 1; }
done

# The fastest walk of each side is the steadiest figure on a busy machine.
printf "%-34s %16s %16s\n" "$rounds walks of $objects objects" "best objects/s" "mean objects/s"
printf "%-34s %16s %16s\n" "module: walk() call" "$(rate $objects $((best * 1000000)))" \
    "$(rate $got $((total * 1000000)))"
printf "%-34s %16s %16s\n" "snmpwalk -v1: whole process" "$(rate $objects $toolBest)" \
    "$(rate $got $toolTotal)"

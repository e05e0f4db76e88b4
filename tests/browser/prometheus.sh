#!/bin/sh
# A private Prometheus for the monitor's metrics test: listening on 127.0.0.1 only, on a
# free high port, under a time limit (so it ends even when its caller dies; a stop or the
# limit's end is followed by SIGKILL 5 s later if it still runs), scraping one target once
# a second and keeping its data in <dir>/data.
#   prometheus.sh <dir> start <seconds> <host:port>   writes <dir>/prometheus.yml, runs
#                                   Prometheus with it; the port goes to <dir>/port;
#                                   exit status 0 once it is ready
#   prometheus.sh <dir> stop        stops it and waits until it is gone
#   prometheus.sh <dir> query <expression>   the answer of its HTTP API (JSON)
set -u
dir=$1
case $2 in
start)
    cat >"$dir/prometheus.yml" <<EOF
global:
  scrape_interval: 1s
  scrape_timeout: 1s
scrape_configs:
  - job_name: monitor
    static_configs:
      - targets: ['$4']
EOF
    for attempt in 1 2 3 4 5 6 7 8; do
        port=$(shuf -i 20000-59999 -n 1)
        timeout -k 5 "$3" prometheus --config.file="$dir/prometheus.yml" \
            --storage.tsdb.path="$dir/data" --web.listen-address="127.0.0.1:$port" \
            </dev/null >"$dir/prometheus.log" 2>&1 &
        echo $! >"$dir/prometheus.pid"
        for wait in $(seq 100); do
            if curl -sf --max-time 1 "http://127.0.0.1:$port/-/ready" >/dev/null 2>&1; then
                echo "$port" >"$dir/port"
                exit 0
            fi
            kill -0 "$(cat "$dir/prometheus.pid")" 2>/dev/null || break # the port was taken
            sleep 0.1
        done
        "$0" "$dir" stop
    done
    exit 1
    ;;
stop)
    . "$(dirname "$0")/../scripts/stop_server.sh"
    stop_server "$dir/prometheus.pid"
    ;;
query)
    exec curl -sf --max-time 2 -G --data-urlencode "query=$3" \
        "http://127.0.0.1:$(cat "$dir/port")/api/v1/query"
    ;;
esac

#!/usr/bin/env bash
# HTTP load: zivorna-server against nginx serving the same pages and pictures
# as static files, both on 127.0.0.1, measured with wrk (64 connections, a
# Lua script alternating pages and pictures of 200 common characters).
# Also reports zivorna-server's start-up time and resident memory.
#
#   bench/server/load.sh [BUILD_DIR] [SECONDS]
#
# BUILD_DIR defaults to build/release, SECONDS (per run) to 10. Needs nginx
# (nginx-light) and wrk, both in scripts/setup.sh.
set -euo pipefail
# Characters, not bytes, in the string operations below.
export LC_ALL=C.UTF-8

build=${1:-build/release}
seconds=${2:-10}
server_bin=$build/server/zivorna-server
connections=64
threads=2

for tool in nginx wrk curl iconv od; do
  command -v "$tool" >/dev/null || { echo "load.sh: $tool not found (scripts/setup.sh installs it)" >&2; exit 1; }
done
[ -x "$server_bin" ] || { echo "load.sh: $server_bin not built (cmake --build $build --target zivorna-server)" >&2; exit 1; }

tmp=$(mktemp -d /tmp/zv-load.XXXXXX)
# nginx's workers drop root's rights; they must be able to read the files.
chmod 755 "$tmp"
server_pid=
nginx_pid=
cleanup() {
  [ -n "$server_pid" ] && kill "$server_pid" 2>/dev/null && wait "$server_pid" 2>/dev/null
  [ -n "$nginx_pid" ] && kill "$nginx_pid" 2>/dev/null && wait "$nginx_pid" 2>/dev/null
  [ -n "${KEEP_TMP:-}" ] && echo "kept $tmp" || rm -rf "$tmp"
}
trap cleanup EXIT

# Common characters.
chars="的一是不了人我在有他这中大来上国个到说们为子和你地出道也时年得就那要下以生会自着去之过家学对可她里后小么心多天而能好都然没日于起还发成事只作当想看文无开手十用主行方又如前所本见经头面公同三已老从动两长知民样现分将外但身些与高意进把法此实回二理美点月明其种声全工己话儿者向情部正名定女问力机给等几很业最间新什打便位因重被走电四第门相次东政海口使教西再平真听世气信北少关并内加化由却代军产入先山五太水万市眼体别处总才场师书比住员九笑性通目华报立马命张活难神数件安表原车白应路期叫死常提感金何"

# Request paths: the characters' GBK bytes, percent-encoded.
paths=()
for ((i = 0; i < ${#chars}; i++)); do
  c=${chars:i:1}
  hex=$(printf '%s' "$c" | iconv -f UTF-8 -t GBK | od -An -tx1 | tr -d ' \n' | tr a-f A-F)
  enc="%${hex:0:2}%${hex:2:2}"
  paths+=("/wubi/$enc.htm" "/wubis/$enc.jpg")
done
{
  echo "local paths = {"
  for p in "${paths[@]}"; do echo "  \"$p\","; done
  echo "}"
  echo "local n = 0"
  echo "request = function()"
  echo "  n = n + 1"
  echo "  return wrk.format(\"GET\", paths[(n % #paths) + 1])"
  echo "end"
} > "$tmp/mix.lua"

# --- zivorna-server: start-up time and memory ---
start_ns=$(date +%s%N)
"$server_bin" --listen 127.0.0.1:0 > "$tmp/server.out" 2>"$tmp/server.err" &
server_pid=$!
until grep -q 'serving on' "$tmp/server.out" 2>/dev/null; do
  kill -0 "$server_pid" 2>/dev/null || { cat "$tmp/server.err" >&2; exit 1; }
  sleep 0.005
done
startup_ms=$(( ($(date +%s%N) - start_ns) / 1000000 ))
server_url=$(grep -o 'http://127.0.0.1:[0-9]*' "$tmp/server.out")
# Resident memory: total, anonymous (the server's own), file-backed (mapped
# libraries and the font file, shared and reclaimable).
rss() { awk '/^(VmRSS|RssAnon|RssFile):/ {printf "%s %d MiB  ", $1, $2 / 1024}' /proc/$server_pid/status; }
rss_start=$(rss)

# --- nginx on the same pages and pictures, exported as static files ---
"$server_bin" --export "$tmp/static" --chars "$chars" > /dev/null 2>"$tmp/export.err"
mkdir -p "$tmp/nginx"
nginx_port=
for attempt in 1 2 3 4 5; do
  port=$(( 20000 + RANDOM % 40000 ))
  cat > "$tmp/nginx.conf" <<EOF
worker_processes auto;
daemon off;
pid $tmp/nginx/nginx.pid;
error_log $tmp/nginx/error.log warn;
events { worker_connections 1024; }
http {
  access_log off;
  types { text/html htm; image/jpeg jpg; }
  sendfile on;
  tcp_nodelay on;
  keepalive_requests 1000000;
  client_body_temp_path $tmp/nginx/body;
  proxy_temp_path $tmp/nginx/proxy;
  fastcgi_temp_path $tmp/nginx/fastcgi;
  uwsgi_temp_path $tmp/nginx/uwsgi;
  scgi_temp_path $tmp/nginx/scgi;
  server {
    listen 127.0.0.1:$port;
    root $tmp/static;
  }
}
EOF
  nginx -c "$tmp/nginx.conf" -p "$tmp/nginx" 2>>"$tmp/nginx/start.err" &
  nginx_pid=$!
  for _ in $(seq 50); do
    if (exec 3<>/dev/tcp/127.0.0.1/$port) 2>/dev/null; then nginx_port=$port; break; fi
    kill -0 "$nginx_pid" 2>/dev/null || break
    sleep 0.05
  done
  [ -n "$nginx_port" ] && break
  kill "$nginx_pid" 2>/dev/null; wait "$nginx_pid" 2>/dev/null || true
  nginx_pid=
done
[ -n "$nginx_port" ] || { echo "load.sh: nginx did not start" >&2; cat "$tmp/nginx/start.err" >&2; exit 1; }
nginx_url=http://127.0.0.1:$nginx_port

# Both serve the same bytes.
for p in "${paths[0]}" "${paths[1]}"; do
  if ! cmp -s <(curl -s "$server_url$p") <(curl -s "$nginx_url$p"); then
    echo "load.sh: $p differs between the servers" >&2
  fi
done

run_wrk() {  # url label
  wrk -t$threads -c$connections -d1s -s "$tmp/mix.lua" "$1" > /dev/null  # warm-up
  wrk -t$threads -c$connections -d${seconds}s --latency -s "$tmp/mix.lua" "$1" > "$tmp/$2.wrk"
}
run_wrk "$server_url" server
run_wrk "$nginx_url" nginx
rss_after=$(rss)

rps() { awk '/Requests\/sec/ {print $2}' "$1"; }
p99() { awk '$1 == "99%" {print $2}' "$1"; }
errors() {
  awk '/Non-2xx/ {n += $NF} /Socket errors/ {for (i = 4; i <= NF; i += 2) n += $i} END {print n + 0}' "$1"
}

s_rps=$(rps "$tmp/server.wrk"); n_rps=$(rps "$tmp/nginx.wrk")
echo
echo "wrk -t$threads -c$connections -d${seconds}s, pages and pictures of ${#chars} characters alternating"
printf '%-16s %14s %12s %8s\n' "" "requests/s" "p99" "errors"
printf '%-16s %14s %12s %8s\n' "zivorna-server" "$s_rps" "$(p99 "$tmp/server.wrk")" "$(errors "$tmp/server.wrk")"
printf '%-16s %14s %12s %8s\n' "nginx" "$n_rps" "$(p99 "$tmp/nginx.wrk")" "$(errors "$tmp/nginx.wrk")"
awk -v s="$s_rps" -v n="$n_rps" 'BEGIN {printf "throughput ratio zivorna-server / nginx: %.2f\n", s / n}'
echo
echo "zivorna-server start-up (launch to listening, data loaded): ${startup_ms} ms"
echo "zivorna-server resident memory at start:      $rss_start"
echo "zivorna-server resident memory after the runs: $rss_after"

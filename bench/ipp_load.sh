#!/usr/bin/env bash
# Measures qlpr-ipp under load, on loopback only: a server on a free port
# with a temporary state folder and one printer on a socket:// device served
# by a receiver in this script, which keeps what arrives with the time of
# each read. Every job prints a receipt of its own (its client and number
# drawn in as bars at the top), so the stream tells which job each part is
# and when its last byte came. (A file:// device is not used: PAPPL 1.3
# closes it after each job while the next job may already have it.)
#
#  1. idle: one-metre receipt jobs (a 576 x 8,000-dot PNG, text-like rows,
#     bars and noise) one at a time; the time from submission to the last
#     byte written (target: within 100 ms);
#  2. load: 10 clients at once, each submitting 20 such jobs one after the
#     other; every job must be printed once, exactly as qlpr print prints
#     the image, and in order per client; jobs per second over the run;
#  3. the server's resident memory (from /proc) before and after the run,
#     the "before" after one warm-up job (target: after within 10% of it).
#
# usage: bench/ipp_load.sh [BUILD_DIR]   (default build-rel, a Release build)
# QLPR_IPP_CLIENTS, QLPR_IPP_JOBS, QLPR_IPP_IDLE_RUNS change the counts;
# QLPR_IPP_SETTLE the seconds between the run and the "after" memory (1);
# QLPR_IPP_LOG_LEVEL the server's log level (warn), QLPR_IPP_KEEP_LOG a
# file to keep its log in, QLPR_IPP_SMAPS one for its memory map after the run.
set -euo pipefail

here=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "${1:-$here/build-rel}" && pwd)
app=$build/bin/qlpr-ipp qlpr=$build/bin/qlpr
for program in "$app" "$qlpr"; do
    [ -x "$program" ] || { echo "no $program (build qlpr and qlpr-ipp first)" >&2; exit 1; }
done
command -v ipptool >/dev/null || { echo "ipptool is not installed (cups-ipp-utils)" >&2; exit 1; }
clients=${QLPR_IPP_CLIENTS:-10} jobs=${QLPR_IPP_JOBS:-20} idle_runs=${QLPR_IPP_IDLE_RUNS:-20}

work=$(mktemp -d)
program="$work/qlpr-ipp-bench-$$"
server="" receiver=""
cleanup() {
    [ -n "$receiver" ] && kill "$receiver" 2>/dev/null || true
    if [ -n "$server" ] && kill -0 "$server" 2>/dev/null; then
        kill -TERM "$server"
        for _ in $(seq 50); do kill -0 "$server" 2>/dev/null || break; sleep 0.1; done
        kill -KILL "$server" 2>/dev/null || true
    fi
    rm -f "/run/${program##*/}.sock"
    [ -n "${QLPR_IPP_KEEP_LOG:-}" ] && cp "$log" "$QLPR_IPP_KEEP_LOG" 2>/dev/null
    rm -rf "$work"
}
trap cleanup EXIT
fail() {
    echo "FAILED: $*" >&2
    exit 1
}
ln -s "$app" "$program"
export TMPDIR=$work HOME=$work QLPR_IPP_STATE=$work/state

mkdir -p "$work/png" "$work/ref"
python3 - "$here/bench" "$work/png" "$clients" "$jobs" "$idle_runs" <<'EOF'
import struct, sys, zlib
sys.path.insert(0, sys.argv[1])
from receipt_rows import WIDTH, HEIGHT, STRIDE, receipt_rows
folder, clients, jobs, idle_runs = sys.argv[2], int(sys.argv[3]), int(sys.argv[4]), int(sys.argv[5])
rows = receipt_rows()
# A one-bit grey PNG: 1 is white, so the ink bits are inverted.
body = b"".join(b"\0" + bytes(255 - b for b in row) for row in rows[32:HEIGHT])
def chunk(kind, data):
    return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data))
def bars(first, second):  # 32 rows: two bars as long as the numbers
    row = lambda n: bytes(255 - (0xFF if i < n else 0) for i in range(STRIDE))
    return (b"\0" + row(first)) * 14 + (b"\0" + bytes([255] * STRIDE)) * 2 + (b"\0" + row(second)) * 16
def write(name, first, second):
    with open("%s/%s.png" % (folder, name), "wb") as out:
        out.write(b"\x89PNG\r\n\x1a\n")
        out.write(chunk(b"IHDR", struct.pack(">IIBBBBB", WIDTH, HEIGHT, 1, 0, 0, 0, 0)))
        out.write(chunk(b"IDAT", zlib.compress(bars(first, second) + body, 6)))
        out.write(chunk(b"IEND", b""))
write("warm-up", 0, 0)
for run in range(1, idle_runs + 1):
    write("idle-%d" % run, 0, run)
for c in range(1, clients + 1):
    for j in range(1, jobs + 1):
        write("c%0*d-j%0*d" % (len(str(clients)), c, len(str(jobs)), j), c, j)
EOF
for png in "$work"/png/*.png; do
    name=$(basename "$png" .png)
    QLPR_ROOT=$work/qlpr-root "$qlpr" print "$png" -o "$work/ref/$name.prn" 2>/dev/null ||
        fail "qlpr print of $name"
done

port_is_free() { ! (exec 3<>"/dev/tcp/127.0.0.1/$1") 2>/dev/null; }
for _ in $(seq 20); do
    port=$((20000 + RANDOM % 40000))
    port_is_free "$port" && break
done
log=$work/server.log
"$program" server -o server-port="$port" -o log-file="$log" -o log-level=${QLPR_IPP_LOG_LEVEL:-warn} &
server=$!
for _ in $(seq 100); do
    port_is_free "$port" || break
    kill -0 "$server" 2>/dev/null || fail "the server did not start"
    sleep 0.1
done
sleep 0.5  # the local socket the sub-commands use
# The receiver: each connection's bytes, and the time (ns) and running
# byte count of each read.
python3 - "$work/received" <<'EOF' &
import os, socket, sys, time
folder = sys.argv[1]
os.makedirs(folder)
listener = socket.socket()
listener.bind(("127.0.0.1", 0))
listener.listen(1)
open(folder + ".port", "w").write(str(listener.getsockname()[1]))
connection = 0
while True:
    peer, _ = listener.accept()
    connection += 1
    data, marks = bytearray(), []
    while True:
        chunk = peer.recv(1 << 20)
        if not chunk:
            break
        data += chunk
        marks.append("%d %d\n" % (time.time_ns(), len(data)))
    peer.close()
    open("%s/%04d.marks" % (folder, connection), "w").write("".join(marks))
    open("%s/%04d.prn" % (folder, connection), "wb").write(data)
EOF
receiver=$!
for _ in $(seq 50); do [ -s "$work/received.port" ] && break; sleep 0.1; done
"$program" add -d bench -m qlpr80 -v "socket://127.0.0.1:$(cat "$work/received.port")" >/dev/null ||
    fail "add the printer"
uri="ipp://localhost:$port/ipp/print/bench"

cat >"$work/print.test" <<'EOF'
{
	NAME "Print-Job of $job"
	OPERATION Print-Job
	GROUP operation-attributes-tag
	ATTR charset attributes-charset utf-8
	ATTR naturalLanguage attributes-natural-language en
	ATTR uri printer-uri $uri
	ATTR name requesting-user-name $user
	ATTR name job-name $job
	ATTR mimeMediaType document-format image/png
	FILE $filename
	STATUS successful-ok
}
EOF
now_ns() { date +%s%N; }
submit() {  # JOB-NAME: prints the time of submission (ns)
    local at
    at=$(now_ns)
    ipptool -q -f "$work/png/$1.png" -d job="$1" "$uri" "$work/print.test" || fail "submitting $1"
    echo "$1 $at"
}
received_bytes() { cat "$work"/received/*.prn 2>/dev/null | wc -c; }
expected_bytes() {  # JOB-NAME...: their streams' bytes in all
    local name total=0
    for name in "$@"; do total=$((total + $(stat -c %s "$work/ref/$name.prn"))); done
    echo "$total"
}
wait_for() {  # BYTES: until that many bytes arrived and the connection closed (60 s at most)
    for _ in $(seq 6000); do
        [ "$(received_bytes)" -ge "$1" ] && return 0
        kill -0 "$server" 2>/dev/null || fail "the server ended"
        sleep 0.01
    done
}
rss_kib() { awk '/^VmRSS/ { print $2 }' "/proc/$server/status"; }

rss_cold=$(rss_kib)
submit warm-up >/dev/null
wait_for "$(expected_bytes warm-up)"
sleep 0.5
rss_before=$(rss_kib)

# 1. Idle: one job at a time.
: >"$work/idle.times"
idle_names=(warm-up)
for run in $(seq "$idle_runs"); do
    submit "idle-$run" >>"$work/idle.times"
    idle_names+=("idle-$run")
    wait_for "$(expected_bytes "${idle_names[@]}")"
    sleep 0.2
done

# 2. Load: the clients at once.
load_start=$(now_ns)
client_pids=()
for client in $(seq -w 1 "$clients"); do
    (
        for job in $(seq -w 1 "$jobs"); do submit "c$client-j$job"; done >"$work/client-$client.times"
    ) &
    client_pids+=($!)
done
wait "${client_pids[@]}" || true
names=()
for client in $(seq -w 1 "$clients"); do
    for job in $(seq -w 1 "$jobs"); do names+=("c$client-j$job"); done
done
wait_for "$(expected_bytes "${idle_names[@]}" "${names[@]}")"
sleep "${QLPR_IPP_SETTLE:-1}"
rss_after=$(rss_kib)
kill -0 "$server" 2>/dev/null || fail "the server ended during the run"
[ -n "${QLPR_IPP_SMAPS:-}" ] && cp "/proc/$server/smaps" "$QLPR_IPP_SMAPS"

cat "$work"/client-*.times >"$work/load.times"
kill "$receiver" 2>/dev/null || true
python3 - "$work" "$clients" "$jobs" "$load_start" "$rss_cold" "$rss_before" "$rss_after" <<'EOF' ||
import bisect, os, statistics, sys

work, clients, jobs, load_start = sys.argv[1], int(sys.argv[2]), int(sys.argv[3]), int(sys.argv[4])
rss_cold, rss_before, rss_after = (int(v) for v in sys.argv[5:8])

# The streams qlpr print makes of each job's receipt, told apart by their
# first bytes (the bars are drawn there).
PREFIX = 16384
references, by_prefix = {}, {}
for entry in os.listdir(os.path.join(work, "ref")):
    name = entry[:-4]
    references[name] = open(os.path.join(work, "ref", entry), "rb").read()
    by_prefix.setdefault(references[name][:PREFIX], []).append(name)
if any(len(names) > 1 for names in by_prefix.values()):
    sys.exit("FAILED: receipts whose streams begin alike: raise PREFIX")

# What arrived, job by job, with the time of each job's last byte.
printed = []  # (name, time of the last byte)
folder = os.path.join(work, "received")
for entry in sorted(e for e in os.listdir(folder) if e.endswith(".prn")):
    data = open(os.path.join(folder, entry), "rb").read()
    marks = [tuple(map(int, line.split())) for line in open(os.path.join(folder, entry[:-4] + ".marks"))]
    counts = [count for _, count in marks]
    offset = 0
    while offset < len(data):
        names = by_prefix.get(data[offset:offset + PREFIX])
        stream = references[names[0]] if names else b""
        if not names or data[offset:offset + len(stream)] != stream:
            sys.exit("FAILED: %s holds bytes at %d that are no job's" % (entry, offset))
        offset += len(stream)
        printed.append((names[0], marks[bisect.bisect_left(counts, offset)][0]))

done = {}
for name, at in printed:
    if name in done:
        sys.exit("FAILED: %s printed twice" % name)
    done[name] = at

def latencies(times_file):
    result = {}
    for line in open(os.path.join(work, times_file)):
        name, submitted = line.split()
        if name not in done:
            sys.exit("FAILED: %s was not printed" % name)
        result[name] = (int(submitted), done[name])
    return result

def row(label, values):
    values = sorted(values)
    p95 = values[min(len(values) - 1, int(round(0.95 * (len(values) - 1))))]
    return "| %-36s | %8.1f | %8.1f | %8.1f |" % (label, statistics.median(values), p95, values[-1])

idle = latencies("idle.times")
load = latencies("load.times")
if len(load) != clients * jobs:
    sys.exit("FAILED: %d of %d jobs submitted" % (len(load), clients * jobs))
order = [name for name, _ in printed]
# Reported after the figures: PAPPL 1.3 starts the newest of the jobs
# waiting for a printer, not the oldest.
out_of_order = []
for c in range(1, clients + 1):
    prefix = "c%0*d-" % (len(str(clients)), c)
    printed_order = [n[len(prefix) + 1:] for n in order if n.startswith(prefix)]
    if printed_order != sorted(printed_order):
        out_of_order.append("client %d: %s" % (c, " ".join(printed_order)))

span = (max(done[n] for n in load) - load_start) / 1e9
ms = lambda pairs: [(at - submitted) / 1e6 for submitted, at in pairs]
sizes = [len(references[n]) for n in load]
print("one-metre receipt: 576 x 8000 dots, streams of %d to %d bytes" % (min(sizes), max(sizes)))
print("| %-36s | %8s | %8s | %8s |" % ("submission to last byte (ms)", "median", "p95", "max"))
print("|%s|%s|%s|%s|" % ("-" * 38, "-" * 10, "-" * 10, "-" * 10))
print(row("idle, one job at a time (%d runs)" % len(idle), ms(idle.values())))
print(row("load, %d clients x %d jobs at once" % (clients, jobs), ms(load.values())))
print()
print("load: %d jobs, each printed once, in %.2f s: %.1f jobs/s; in order per client: %s"
      % (len(load), span, len(load) / span, "yes" if not out_of_order else
         "NO, for %d of %d clients" % (len(out_of_order), clients)))
print("idle target (median within 100 ms): %s"
      % ("met" if statistics.median(ms(idle.values())) <= 100 else "MISSED"))
print("server RSS: %d KiB at start, %d KiB after the warm-up job, %d KiB after the run "
      "(%+.1f%%; target within 10%%)"
      % (rss_cold, rss_before, rss_after, 100.0 * (rss_after - rss_before) / rss_before))
if out_of_order:
    sys.exit("FAILED: jobs printed out of order (job numbers as printed):\n  " + "\n  ".join(out_of_order))
EOF
{
    status=$?
    echo "the server's errors:" >&2
    grep "^E" "$log" | grep -v DNS-SD | tail -20 >&2
    exit "$status"
}

#!/usr/bin/env bash
# qlpr-ipp behind a real CUPS: a cupsd of the test's own (its configuration,
# spool, cache, state and logs in a temporary folder, reached only through
# a local socket there) gets a driverless queue made with
# `lpadmin -m everywhere` pointing at qlpr-ipp on a free loopback port. A
# PDF receipt printed with lp goes through CUPS's filters as raster to
# qlpr-ipp, and the bytes on its file:// device must be a whole printer
# stream: raster, a cut, and no byte `qlpr decode` does not know.
#
#   cups_queue.sh QLPR-IPP QLPR TEST-FOLDER
set -euo pipefail

app=$1 qlpr=$2 here=$3
for needed in cupsd lpadmin; do
    if ! command -v "$needed" >/dev/null && [ ! -x "/usr/sbin/$needed" ]; then
        echo "$needed is not installed (cups, cups-client): skipped"
        exit 77
    fi
done
PATH=$PATH:/usr/sbin

# shellcheck source=app_server.sh
. "$here/app_server.sh"
app_prepare "$app"

cups="$work/cups"
cups_socket="$cups/cups.sock"
cupsd_pid=""
stop_cupsd() {
    if [ -n "$cupsd_pid" ] && kill -0 "$cupsd_pid" 2>/dev/null; then
        kill -TERM "$cupsd_pid"
        for _ in $(seq 50); do kill -0 "$cupsd_pid" 2>/dev/null || break; sleep 0.1; done
        kill -KILL "$cupsd_pid" 2>/dev/null || true
    fi
}
trap 'stop_cupsd; app_cleanup' EXIT
failure_logs=("$cups/log/error_log")

# Run as root, cupsd runs the filters as its user lp, which has to reach
# the spool and the temporary files inside this folder; run as a user,
# everything runs as that user.
mkdir -p "$cups"/{conf,spool,cache,state,tmp,log}
chmod 711 "$work"
chmod 755 "$cups" "$cups/conf"
chmod 1777 "$cups/tmp"
cat >"$cups/conf/cups-files.conf" <<EOF
ServerRoot $cups/conf
RequestRoot $cups/spool
CacheDir $cups/cache
StateDir $cups/state
TempDir $cups/tmp
ErrorLog $cups/log/error_log
AccessLog $cups/log/access_log
PageLog $cups/log/page_log
SystemGroup $(id -gn)
EOF
# Nothing but the local socket: no network port, no browsing, and no
# authentication for the test's own requests.
cat >"$cups/conf/cupsd.conf" <<EOF
Listen $cups_socket
LogLevel debug
Browsing No
WebInterface No
DefaultAuthType None
<Location />
  Order allow,deny
  Allow localhost
</Location>
<Policy default>
  <Limit All>
    Order deny,allow
  </Limit>
</Policy>
EOF

start_server
mkdir -p "$work/device"
device="$work/device/receipt.prn"
: >"$device"
chmod 666 "$device"
"$program" add -d receipt -m qlpr80 -v "file://$device" || fail "add receipt"

cupsd -f -c "$cups/conf/cupsd.conf" -s "$cups/conf/cups-files.conf" >"$cups/log/cupsd.out" 2>&1 &
cupsd_pid=$!
failure_logs+=("$cups/log/cupsd.out")
for _ in $(seq 100); do
    lpstat -h "$cups_socket" -r 2>/dev/null | grep -q "scheduler is running" && break
    kill -0 "$cupsd_pid" 2>/dev/null || fail "cupsd did not start"
    sleep 0.1
done
lpstat -h "$cups_socket" -r | grep -q "scheduler is running" || fail "cupsd does not answer"

lpadmin -h "$cups_socket" -p receipt -E -v "ipp://127.0.0.1:$port/ipp/print/receipt" \
    -m everywhere || fail "lpadmin -m everywhere"

# The receipt as a point-of-sale program hands it over: a PDF page of
# 80 x 100 mm with text and a rule, printed on the paper of that size (on
# the 327.6 mm roll CUPS would centre the short page).
cat >"$work/receipt.ps" <<'EOF'
%!PS
/mm { 72 mul 25.4 div } def
/at { mm exch mm exch moveto show } def
/Helvetica-Bold findfont 16 scalefont setfont
(QLPR CAFE) 22 90 at
/Courier findfont 9 scalefont setfont
(2 x Flat white) 6 80 at (6.40) 62 80 at
(1 x Almond croissant) 6 75 at (3.10) 62 75 at
1 setlinewidth 6 mm 71 mm moveto 74 mm 71 mm lineto stroke
/Courier-Bold findfont 12 scalefont setfont
(TOTAL) 6 65 at (9.50) 58 65 at
showpage
EOF
ps2pdf -dDEVICEWIDTHPOINTS=226.77 -dDEVICEHEIGHTPOINTS=283.46 "$work/receipt.ps" \
    "$work/receipt.pdf" || fail "ps2pdf (ghostscript) made no PDF"

request=$(lp -h "$cups_socket" -d receipt -o media=80x100mm "$work/receipt.pdf") ||
    fail "lp of the PDF"
job=$(sed -n 's/^request id is \(receipt-[0-9]*\).*/\1/p' <<<"$request")
[ -n "$job" ] || fail "lp gave no job: $request"

# Done when CUPS lists the job as completed; a filter or backend error
# stops the queue instead.
for _ in $(seq 300); do
    lpstat -h "$cups_socket" -W completed -o receipt | grep -q "^$job " && break
    if lpstat -h "$cups_socket" -p receipt | grep -q disabled; then
        fail "CUPS stopped the queue: $(lpstat -h "$cups_socket" -p receipt -l)"
    fi
    sleep 0.1
done
lpstat -h "$cups_socket" -W completed -o receipt | grep -q "^$job " ||
    fail "job $job did not complete: $(lpstat -h "$cups_socket" -o receipt)"
[ -s "$device" ] || fail "nothing reached the printer's device"

decoded="$work/decoded.txt"
status=0
"$qlpr" decode "$device" >"$decoded" || status=$?
if [ "$status" -ne 0 ]; then
    grep -E "UNKNOWN|TRUNCATED" "$decoded" | head -5 >&2
    fail "qlpr decode ended with status $status (2: bytes that belong to no command)"
fi
grep -q " 0 unknown bytes$" "$decoded" || fail "decode's summary: $(tail -1 "$decoded")"
grep -q "  ESC , " "$decoded" || fail "the stream has no raster"
grep -q "  GS V " "$decoded" || fail "the stream has no cut"

# Stopped with no client of CUPS's still connected to it.
stop_cupsd
stop_server

echo "cups: lpadmin -m everywhere made a queue for qlpr-ipp; a PDF printed with lp arrived as"
echo "cups: $(tail -1 "$decoded"), with raster and a cut"

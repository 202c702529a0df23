#!/usr/bin/env bash
# qlpr-ipp end to end, on loopback only: a server on a free port with a
# temporary state folder, two printers with file:// devices, the IPP
# conformance checks that apply to a raster printer (ipptool's own suite and
# printer-attributes.test), then a PNG, a PWG raster and an Apple raster page
# printed over IPP must give exactly the bytes qlpr print makes of the same
# image.
#
#   printer_application.sh QLPR-IPP QLPR IPP_PWG_PAGE TEST-FOLDER EXAMPLES
set -euo pipefail

app=$1 qlpr=$2 pwg_page=$3 here=$4 examples=$5
ipptool_suites=/usr/share/cups/ipptool
if ! command -v ipptool >/dev/null; then
    echo "ipptool is not installed (cups-ipp-utils): skipped"
    exit 77
fi

# shellcheck source=app_server.sh
. "$here/app_server.sh"
app_prepare "$app"
trap app_cleanup EXIT

start_server

mkdir -p "$work/conformance" "$work/receipts"
"$program" add -d conformance -m qlpr80 -v "file://$work/conformance" || fail "add conformance"
"$program" add -d receipts -m qlpr80 -v "file://$work/receipts" || fail "add receipts"
base="ipp://localhost:$port/ipp/print"

if [ -f "$ipptool_suites/ipp-2.0.test" ]; then
    ipptool -tq -f "$examples/ramp.png" "$base/conformance" "$ipptool_suites/ipp-2.0.test" ||
        fail "ipptool's IPP/2.0 suite"
fi
ipptool -tq "$base/conformance" "$here/printer-attributes.test" || fail "printer attributes"
# On a slow machine the suite goes on to a Create-Job it never sends a
# document for; PAPPL keeps such a job, and a stop waits a minute for it.
"$program" cancel -d conformance -a >/dev/null || fail "cancel the suite's jobs"

web_page() {  # PATH: the page as a browser asks for it
    exec 3<>"/dev/tcp/127.0.0.1/$port"
    printf 'GET %s HTTP/1.0\r\nHost: localhost:%s\r\nAccept-Language: en-GB,en\r\n\r\n' "$1" "$port" >&3
    cat <&3
    exec 3<&-
}
# The web interface shows a printer's receipt options.
page=$(web_page /receipts/printing)
kill -0 "$server" 2>/dev/null || fail "the server ended serving a web page"
for option in cut-feed dither-method cash-drawer skip-blank; do
    grep -q "name=\"$option\"" <<<"$page" || fail "the web page lacks $option"
done

print_over_ipp() {  # FILE FORMAT JOB-NAME
    ipptool -tq -f "$1" -d format="$2" -d job="$3" "$base/receipts" "$here/print-document.test" ||
        fail "printing $3"
}
expect_same() {  # IPP-OUTPUT REFERENCE
    [ -s "$1" ] || fail "no output in $1"
    cmp "$1" "$2" || fail "$1 differs from what qlpr print makes"
}

# What qlpr print makes of the image on the same model with the same settings.
QLPR_ROOT=$work/qlpr-root "$qlpr" print "$examples/ramp.png" -o "$work/reference.prn" 2>/dev/null

print_over_ipp "$examples/ramp.png" image/png png-job
expect_same "$work/receipts/png-job.prn" "$work/reference.prn"

# The page of an 80 mm roll at 203 dpi, the image 4 mm (32 dots) in: the
# paper's left margin.
"$pwg_page" "$examples/ramp.png" "$work/ramp.pwg" om_80-mm-roll_80x327.6mm 203 32
print_over_ipp "$work/ramp.pwg" image/pwg-raster pwg-job
expect_same "$work/receipts/pwg-job.prn" "$work/reference.prn"
# Pages of a job are the pages of one qlpr print job.
QLPR_ROOT=$work/qlpr-root "$qlpr" print "$examples/ramp.png" "$examples/ramp.png" \
    -o "$work/reference-2.prn" 2>/dev/null
"$pwg_page" --pages 2 "$examples/ramp.png" "$work/ramp-2.pwg" om_80-mm-roll_80x327.6mm 203 32
print_over_ipp "$work/ramp-2.pwg" image/pwg-raster pwg-2-job
expect_same "$work/receipts/pwg-2-job.prn" "$work/reference-2.prn"
"$pwg_page" --apple "$examples/ramp.png" "$work/ramp.urf" om_80-mm-roll_80x327.6mm 203 32
print_over_ipp "$work/ramp.urf" image/urf urf-job
expect_same "$work/receipts/urf-job.prn" "$work/reference.prn"

# A job in the printer's own language goes to the device untouched.
print_over_ipp "$work/reference.prn" application/vnd.qlpr-receipt raw-job
expect_same "$work/receipts/raw-job.prn" "$work/reference.prn"

# Receipt options set as the printer's defaults are kept across a restart
# and print as qlpr print's options of the same meaning.
"$program" modify -d receipts -o cut-feed=feed-each-page -o dither-method=halftone-8-x-8 \
    -o cash-drawer=drawer-1-job-end || fail "modify"
stop_server
start_server
QLPR_ROOT=$work/qlpr-root "$qlpr" print "$examples/ramp.png" --set dmDefaultSource=262 \
    --dither 258 --drawer1-mask 8 -o "$work/reference-options.prn" 2>/dev/null
print_over_ipp "$examples/ramp.png" image/png options-job
expect_same "$work/receipts/options-job.prn" "$work/reference-options.prn"

# Bad input: each job of the table is refused, or ends with the state, the
# reasons and the message given; a good job right after prints exactly as
# before, and the server still answers.
hostile_pwg() {  # OUT FIELD=VALUE...: ramp.pwg with header fields changed
    python3 - "$work/ramp.pwg" "$@" <<'EOF_PY'
import struct, sys
# Offsets of the 32-bit fields in a PWG raster header (after "RaS2").
FIELDS = {"HWResolution0": 276, "HWResolution1": 280, "cupsWidth": 372, "cupsHeight": 376,
          "cupsBitsPerColor": 384, "cupsBitsPerPixel": 388, "cupsBytesPerLine": 392,
          "cupsColorSpace": 400}
data = bytearray(open(sys.argv[1], "rb").read())
width = struct.unpack_from(">I", data, 4 + FIELDS["cupsWidth"])[0]
for change in sys.argv[3:]:
    name, value = change.split("=")  # VALUE may use the page's width
    struct.pack_into(">I", data, 4 + FIELDS[name], eval(value, {}, {"width": width}))
open(sys.argv[2], "wb").write(data)
EOF_PY
}
pwg_size=$(wc -c <"$work/ramp.pwg")
# Cut in the page header (4 + 1796 bytes), right after it, in the lines.
head -c 1000 "$work/ramp.pwg" >"$work/cut-header.pwg"
head -c 1800 "$work/ramp.pwg" >"$work/header-only.pwg"
head -c $(((pwg_size + 1800) / 2)) "$work/ramp.pwg" >"$work/truncated.pwg"
hostile_pwg "$work/huge.pwg" cupsWidth=0x7fffffff cupsHeight=0x7fffffff cupsBytesPerLine=0x7fffffff
hostile_pwg "$work/tall.pwg" cupsHeight=1000000
hostile_pwg "$work/zero-bits.pwg" cupsBitsPerColor=0 cupsBitsPerPixel=0
hostile_pwg "$work/rgb.pwg" cupsColorSpace=1 cupsBitsPerPixel=24 cupsBytesPerLine=width*3
hostile_pwg "$work/wide.pwg" cupsWidth=100000000 cupsBytesPerLine=100000000
# Counting ink, the white page is black from top to bottom: at one line
# per inch it would be metres long.
hostile_pwg "$work/one-dpi.pwg" HWResolution1=1 cupsColorSpace=3
head -c $(($(wc -c <"$examples/ramp.png") / 2)) "$examples/ramp.png" >"$work/truncated.png"
printf '%%PDF-1.4\n%%%%EOF\n' >"$work/document.pdf"
echo "a line of text" >"$work/document.txt"

# NAME FILE FORMAT STATUS STATE REASON MESSAGE [ATTR-LINE]: an ipptool test
# of a job, whose STATE, REASON and MESSAGE (a regular expression) are
# checked when it was accepted.
job_test() {
    local name=$1 file=$2 format=$3 status=$4 state=$5 reason=$6 message=$7 attr=${8:-}
    cat >"$work/bad-job.test" <<EOF_TEST
{
	NAME "Print-Job of $name"
	OPERATION Print-Job
	GROUP operation-attributes-tag
	ATTR charset attributes-charset utf-8
	ATTR naturalLanguage attributes-natural-language en
	ATTR uri printer-uri \$uri
	ATTR name requesting-user-name \$user
	ATTR name job-name $name
	ATTR mimeMediaType document-format $format
	GROUP job-attributes-tag
	$attr
	FILE $file
	STATUS $status
	EXPECT ?job-id OF-TYPE integer DEFINE-VALUE JOB_ID
}
{
	NAME "Wait for $name to end"
	SKIP-IF-NOT-DEFINED JOB_ID
	DELAY "0,0.1"
	OPERATION Get-Job-Attributes
	GROUP operation-attributes-tag
	ATTR charset attributes-charset utf-8
	ATTR naturalLanguage attributes-natural-language en
	ATTR uri printer-uri \$uri
	ATTR integer job-id \$JOB_ID
	ATTR name requesting-user-name \$user
	STATUS successful-ok
	EXPECT job-state OF-TYPE enum COUNT 1 WITH-VALUE >6 REPEAT-NO-MATCH REPEAT-LIMIT 600
	EXPECT job-state WITH-VALUE $state
	EXPECT job-state-reasons WITH-VALUE "$reason"
	EXPECT job-state-message WITH-VALUE "/$message/"
}
EOF_TEST
}
# The job of job_test's arguments on the receipts printer, then a good one.
bad_job() {
    local name=$1
    job_test "$@"
    # With a length, not chunked: see ipp/README.md on raster streams that
    # end early.
    ipptool -t -L "$base/receipts" "$work/bad-job.test" >"$work/bad-job.out" ||
        { cat "$work/bad-job.out" >&2; fail "the bad job $name"; }
    kill -0 "$server" 2>/dev/null || fail "the server ended on the bad job $name"
    print_over_ipp "$examples/ramp.png" image/png "after-$name"
    expect_same "$work/receipts/after-$name.prn" "$work/reference-options.prn"
}
ok=successful-ok
refused_value=client-error-attributes-or-values-not-supported
format_error=document-format-error
# PAPPL ends a document it cannot read a page header of without a reason.
bad_job cut-header-pwg "$work/cut-header.pwg" image/pwg-raster $ok 8 aborted-by-system "."
bad_job truncated-pwg "$work/truncated.pwg" image/pwg-raster $ok 8 $format_error "ends after"
bad_job header-only-pwg "$work/header-only.pwg" image/pwg-raster $ok 8 $format_error "ends after 0 of"
bad_job huge-pwg "$work/huge.pwg" image/pwg-raster $ok 8 $format_error "."
bad_job wide-pwg "$work/wide.pwg" image/pwg-raster $ok 8 $format_error "ends after 0 of"
bad_job tall-pwg "$work/tall.pwg" image/pwg-raster $ok 8 $format_error "does not fit the paper"
bad_job zero-bits-pwg "$work/zero-bits.pwg" image/pwg-raster $ok 8 aborted-by-system "."
bad_job rgb-pwg "$work/rgb.pwg" image/pwg-raster $ok 8 document-unprintable-error "."
bad_job one-dpi-pwg "$work/one-dpi.pwg" image/pwg-raster $ok 8 $format_error "too large at 203x1 dpi"
bad_job truncated-png "$work/truncated.png" image/png $ok 8 $format_error "ends early"
bad_job png-as-pwg "$examples/ramp.png" image/pwg-raster $ok 8 aborted-by-system "."
bad_job pwg-as-png "$work/ramp.pwg" image/png $ok 8 $format_error "not a PNG"
bad_job pwg-as-jpeg "$work/ramp.pwg" image/jpeg $ok 8 $format_error "not a PNG"
# PAPPL 1.3 takes a document of any format and ends the job it cannot print
# without a reason of its own.
bad_job pdf "$work/document.pdf" application/pdf $ok 8 aborted-by-system "."
bad_job text "$work/document.txt" text/plain $ok 8 aborted-by-system "."
bad_job cut-feed "$examples/ramp.png" image/png $ok 8 aborted-by-system \
    "unknown cut-feed value no-such-cut" "ATTR keyword cut-feed no-such-cut"
bad_job dither-method "$examples/ramp.png" image/png $ok 8 aborted-by-system \
    "unknown dither-method value no-such-dither" "ATTR keyword dither-method no-such-dither"
bad_job copies "$examples/ramp.png" image/png $refused_value 0 none "." "ATTR integer copies 10000"
# A size the printer does not offer is left out: the job prints on the
# printer's paper.
bad_job media "$examples/ramp.png" image/png successful-ok-ignored-or-substituted-attributes 9 \
    job-completed-successfully "." "ATTR keyword media iso_a4_210x297mm"
expect_same "$work/receipts/media.prn" "$work/reference-options.prn"

# A printer on the network that closes the connection mid-job: the job
# ends aborted and the printer shows as offline; the next job, on a new
# connection, prints whole and the printer is online again.
python3 - "$work/receiver" <<'EOF_PY' &
import os, socket, sys
folder = sys.argv[1]
listener = socket.socket()
listener.bind(("127.0.0.1", 0))
listener.listen(1)
open(folder + ".port", "w").write(str(listener.getsockname()[1]))
os.makedirs(folder)
for connection in range(2):
    peer, _ = listener.accept()
    received = bytearray()
    while connection == 1 or len(received) < 4096:
        chunk = peer.recv(65536)
        if not chunk:
            break
        received += chunk
    peer.close()  # the first connection closes with data unread
    open("%s/%d.prn" % (folder, connection), "wb").write(received)
EOF_PY
receiver=$!
for _ in $(seq 50); do [ -s "$work/receiver.port" ] && break; sleep 0.1; done
"$program" add -d network -m qlpr80 -v "socket://127.0.0.1:$(cat "$work/receiver.port")" ||
    fail "add network"
head -c 8000000 /dev/zero >"$work/long-raw.prn"
printer_reasons() {  # PRINTER: its printer-state-reasons
    ipptool -tv "$base/$1" get-printer-attributes.test 2>/dev/null |
        sed -n 's/.*printer-state-reasons (.*) = //p'
}
job_test cut-off "$work/long-raw.prn" application/vnd.qlpr-receipt $ok 8 aborted-by-system \
    "does not take the job"
ipptool -tq "$base/network" "$work/bad-job.test" || fail "the job cut off"
kill -0 "$server" 2>/dev/null || fail "the server ended when the printer closed the connection"
[[ $(printer_reasons network) == *offline* ]] || fail "the printer is not offline"
ipptool -tq -f "$work/reference.prn" -d format=application/vnd.qlpr-receipt -d job=reconnected \
    "$base/network" "$here/print-document.test" || fail "printing after a cut-off job"
wait "$receiver" || fail "the receiver failed"
cmp "$work/receiver/1.prn" "$work/reference.prn" || fail "the job after a cut-off job differs"
[[ $(printer_reasons network) != *offline* ]] || fail "the printer stays offline"

# A file:// device whose folder is gone with the folder it was in (a
# missing file in a folder that is there is made): the printer shows as
# offline; a job waits for it and prints once the folder is back.
mkdir -p "$work/mount/gone"
"$program" add -d gone -m qlpr80 -v "file://$work/mount/gone" || fail "add gone"
rm -r "$work/mount"
sleep 2  # the printer's state is read again after a second
[[ $(printer_reasons gone) == *offline* ]] || fail "a printer without its folder is not offline"
web_page /gone | grep -qi "jobs, offline" || fail "the web page does not show the printer offline"
ipptool -tq -f "$examples/ramp.png" -d format=image/png -d job=waiting "$base/gone" \
    "$here/print-document.test" &
waiting=$!
sleep 1
mkdir -p "$work/mount/gone"
wait "$waiting" || fail "the job waiting for its printer"
expect_same "$work/mount/gone/waiting.prn" "$work/reference.prn"
sleep 2
[[ $(printer_reasons gone) != *offline* ]] || fail "a printer with its folder back stays offline"

# Each client's jobs print in the order they came, also when they queue
# behind a job the printer is slow to take: two clients each send numbered
# raw jobs while the printer's receiver holds back the first one.
python3 - "$work/ordered.prn" <<'EOF_PY' &
import socket, sys, time
listener = socket.socket()
listener.bind(("127.0.0.1", 0))
listener.listen(4)
open(sys.argv[1] + ".port", "w").write(str(listener.getsockname()[1]))
with open(sys.argv[1], "wb") as out:
    for connection in range(1000):
        peer, _ = listener.accept()
        if connection == 0:
            time.sleep(2)
        while chunk := peer.recv(65536):
            out.write(chunk)
            out.flush()
        peer.close()
EOF_PY
ordered_receiver=$!
for _ in $(seq 50); do [ -s "$work/ordered.prn.port" ] && break; sleep 0.1; done
"$program" add -d ordered -m qlpr80 -v "socket://127.0.0.1:$(cat "$work/ordered.prn.port")" ||
    fail "add ordered"
# Submitted only, not waited for: the jobs queue up.
sed -n '/^{$/,/^}$/p' "$here/print-document.test" | sed -n '1,/^}$/p' >"$work/submit.test"
send_raw() {  # FILE JOB-NAME
    ipptool -tq -f "$1" -d format=application/vnd.qlpr-receipt -d job="$2" "$base/ordered" \
        "$work/submit.test" >/dev/null || fail "printing $2"
}
send_raw "$work/long-raw.prn" held-back &
sleep 0.5
for client in 1 2; do
    (for number in 1 2 3 4 5 6; do
        printf 'client-%s-job-%s;' "$client" "$number" >"$work/ordered-$client-$number.prn"
        send_raw "$work/ordered-$client-$number.prn" "ordered-$client-$number"
    done) &
done
wait_jobs=$(jobs -p | grep -vx "$ordered_receiver\|$server" | tr '\n' ' ')
wait $wait_jobs
for _ in $(seq 100); do
    [ "$(grep -ao 'client-[12]-job-[1-6]' "$work/ordered.prn" | wc -l)" -eq 12 ] && break
    sleep 0.1
done
for client in 1 2; do
    printed=$(grep -ao "client-$client-job-[1-6]" "$work/ordered.prn" | tr '\n' ' ')
    [ "$printed" = "$(printf "client-$client-job-%s " 1 2 3 4 5 6)" ] ||
        fail "client $client's jobs printed as: $printed"
done
kill "$ordered_receiver" 2>/dev/null || true

echo "qlpr-ipp: conformance checks passed; PNG, PWG and Apple raster jobs print as qlpr print does"
echo "qlpr-ipp: raw jobs pass untouched; printer defaults are kept across a restart"
echo "qlpr-ipp: bad jobs are refused or end with their reasons, and the next job prints whole; unreachable devices show as offline"
echo "qlpr-ipp: each client's jobs print in the order they came"

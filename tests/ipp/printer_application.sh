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

echo "qlpr-ipp: conformance checks passed; PNG, PWG and Apple raster jobs print as qlpr print does"
echo "qlpr-ipp: raw jobs pass untouched; printer defaults are kept across a restart"

#!/usr/bin/env bash
# qlpr-ipp's web interface in headless Chromium, after a job has printed:
# the printer's page (its state and jobs) and its printing defaults (media
# and receipt options with their current values) are screenshotted into the
# artefacts folder, the pictures checked to be pages of the window's size
# with something on them, and the pages' texts checked as the browser sees
# them.
#
#   web_page.sh QLPR-IPP IPP_IMAGE_STATS TEST-FOLDER EXAMPLES ARTEFACTS
set -euo pipefail

app=$1 image_stats=$2 here=$3 examples=$4 artefacts=$5
chromium=""
for candidate in chromium chromium-browser; do
    command -v "$candidate" >/dev/null && { chromium=$candidate; break; }
done
if [ -z "$chromium" ]; then
    echo "chromium is not installed: skipped"
    exit 77
fi

# shellcheck source=app_server.sh
. "$here/app_server.sh"
app_prepare "$app"

# Each Chromium runs in a process group of its own, ended whole once it is
# done, and so is any helper that left the group but still names the
# test's profile folder: nothing of the browser outlives the test.
browser_group=""
end_browser() {
    if [ -n "$browser_group" ]; then
        kill -KILL -- "-$browser_group" 2>/dev/null || true
        browser_group=""
    fi
    local helper
    for helper in $(pgrep -f -- "$work/chromium" || true); do
        kill -KILL "$helper" 2>/dev/null || true
    done
}
trap 'end_browser; app_cleanup' EXIT

width=1024 height=900
# As root Chromium needs --no-sandbox; its profile is the test's own.
browse() {  # PATH CHROMIUM-OPTION...
    local path=$1
    shift
    setsid "$chromium" --headless --no-sandbox --disable-gpu --no-first-run \
        --user-data-dir="$work/chromium" --window-size="$width,$height" "$@" \
        "http://127.0.0.1:$port$path" 2>>"$work/chromium.log" &
    browser_group=$!
    local status=0
    wait "$browser_group" || status=$?
    end_browser
    return "$status"
}
failure_logs=("$work/chromium.log")

start_server
mkdir -p "$work/receipts"
"$program" add -d receipts -m qlpr80 -v "file://$work/receipts" || fail "add receipts"
"$program" modify -d receipts -o cut-feed=feed-each-page -o dither-method=halftone-8-x-8 ||
    fail "modify"
"$program" submit -d receipts "$examples/ramp.png" || fail "submit"
job_done() { "$program" jobs -d receipts 2>/dev/null | grep -qE '^1 +completed '; }
for _ in $(seq 200); do
    job_done && break
    sleep 0.1
done
job_done || fail "the job did not complete: $("$program" jobs -d receipts)"
[ -n "$(ls "$work/receipts")" ] || fail "the job did not print"

mkdir -p "$artefacts"
text_of() {  # PATH: the page's DOM as one line
    browse "$1" --dump-dom >"$work/page.html" || fail "chromium could not read $1"
    tr '\n' ' ' <"$work/page.html"
}
selected() {  # PAGE NAME: the value selected in the form's NAME list
    grep -oP "<select name=\"$2\".*?</select>" <<<"$1" |
        grep -oP '<option value="\K[^"]*(?=" selected)'
}
screenshot() {  # PATH FILE
    rm -f "$2"
    browse "$1" --screenshot="$2" || fail "chromium could not screenshot $1"
    local stats
    stats=$("$image_stats" "$2") || fail "$2 is no image"
    read -r got_width got_height values ink <<<"$stats"
    if [ "$got_width" -ne "$width" ] || [ "$got_height" -ne "$height" ]; then
        fail "$2 is ${got_width}x$got_height, not ${width}x$height"
    fi
    # A blank page has one or two values and no ink to speak of.
    if [ "$values" -lt 16 ] || [ "$ink" -lt 20 ]; then
        fail "$2 is nearly blank: $values pixel values, $ink per mille off the background"
    fi
    echo "web page: $1 -> $2 ($stats)"
}

# The printer's page: its name, state and the job that printed.
page=$(text_of /receipts/)
grep -q "<title>receipts - " <<<"$page" || fail "the printer's page is not the printer's"
grep -qP "Idle, 0 jobs" <<<"$page" || fail "the printer's page shows no idle state"
grep -qP "<td>1</td><td>ramp.png</td><td>[^<]*</td><td>1</td><td>Completed at " <<<"$page" ||
    fail "the printer's page does not show the completed job"
screenshot /receipts/ "$artefacts/printer.png"

# The printing defaults: the paper and the receipt options as set.
page=$(text_of /receipts/printing)
grep -q "Media:</th><td>80 x 327mm (Continuous)" <<<"$page" || fail "the page shows no media"
grep -q "Resolution:</th><td>203dpi" <<<"$page" || fail "the page shows no resolution"
for option in cut-feed=feed-each-page dither-method=halftone-8-x-8 cash-drawer=none \
    skip-blank=none; do
    value=$(selected "$page" "${option%%=*}") || true
    [ "$value" = "${option#*=}" ] || fail "${option%%=*} shows '$value', not ${option#*=}"
done
screenshot /receipts/printing "$artefacts/printing.png"

survivors=$(pgrep -f -- "$work/chromium" || true)
[ -z "$survivors" ] || fail "chromium processes outlived the browser: $survivors"
stop_server
echo "web page: the printer's state and job, its media and receipt options as set"

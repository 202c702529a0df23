# shellcheck shell=bash
# qlpr-ipp for the end-to-end scripts, sourced by them: a server of the
# script's own on a free loopback port, with a temporary folder for its
# state, its local socket and whatever else the script makes.
#
#   app_prepare QLPR-IPP   sets work, program and port; exports the state folders
#   start_server           (again after stop_server: a restart)
#   stop_server            as the service manager stops it; fails on a bad status
#   app_cleanup            for the script's EXIT trap: ends the server, removes $work
#   fail MESSAGE           reports, shows the tail of $log and of any file
#                          in failure_logs, and ends the script

work="" program="" port="" server="" log=""
failure_logs=()
starts=0

fail() {
    echo "FAILED: $*" >&2
    local file
    for file in "$log" "${failure_logs[@]}"; do
        [ -n "$file" ] && [ -f "$file" ] && { echo "--- $file" >&2; tail -40 "$file" >&2; }
    done
    exit 1
}

port_is_free() { ! (exec 3<>"/dev/tcp/127.0.0.1/$1") 2>/dev/null; }
free_port() {
    local candidate
    for _ in $(seq 20); do
        candidate=$((20000 + RANDOM % 40000))
        port_is_free "$candidate" && break
    done
    echo "$candidate"
}

app_prepare() {
    work=$(mktemp -d)
    # The program's local socket is named after it: a name of this run's own
    # keeps concurrent runs apart.
    program="$work/qlpr-ipp-test-$$"
    ln -s "$(readlink -f "$1")" "$program"
    export TMPDIR=$work HOME=$work XDG_STATE_HOME=$work/state-home QLPR_IPP_STATE=$work/state
    port=$(free_port)
}

app_cleanup() {
    if [ -n "$server" ] && kill -0 "$server" 2>/dev/null; then
        kill -TERM "$server"
        for _ in $(seq 50); do kill -0 "$server" 2>/dev/null || break; sleep 0.1; done
        kill -KILL "$server" 2>/dev/null || true
    fi
    # Run as root, the server's local socket is in /run, and stays there.
    [ -n "$program" ] && rm -f "/run/${program##*/}.sock"
    [ -n "$work" ] && rm -rf "$work"
}

# Ready once its log says it listens on its port and on the local socket
# the sub-commands use (a sub-command that finds no server starts one).
start_server() {
    starts=$((starts + 1))
    log="$work/server-$starts.log"
    "$program" server -o server-port="$port" -o log-file="$log" -o log-level=info &
    server=$!
    for _ in $(seq 100); do
        if grep -q "Listening for connections on 'localhost:$port'" "$log" 2>/dev/null &&
            grep -q "Listening for connections on '/" "$log"; then
            return 0
        fi
        kill -0 "$server" 2>/dev/null || fail "the server did not start"
        sleep 0.1
    done
    fail "the server does not listen on port $port"
}

stop_server() {
    kill -TERM "$server"
    for _ in $(seq 300); do
        if ! kill -0 "$server" 2>/dev/null; then
            # A sanitizer's findings make the status non-zero.
            wait "$server" || fail "the server ended with status $?"
            return 0
        fi
        sleep 0.1
    done
    fail "the server did not stop"
}

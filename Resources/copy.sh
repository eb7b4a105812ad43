#!/bin/sh
# Installs the privileged daemon: copy.sh DAEMON PLIST UID
#
# Run as root. Installs DAEMON as $HALVORN_ROOT/Library/PrivilegedHelperTools/HVNDaemon
# (root's, 0755) and PLIST as $HALVORN_ROOT/Library/LaunchDaemons/<its name> (root's, 0644),
# HALVORN_ROOT being / when unset, and starts the daemon for the user UID:
# - on a system run by systemd with the root /, as a system service generated from PLIST
#   (HVNDaemon --print-unit), enabled and (re)started with systemctl;
# - otherwise detached, as HVNDaemon --foreground --user UID (with --home DIR when
#   HALVORN_DAEMON_HOME is set; its output goes to HALVORN_DAEMON_LOG, else nowhere).
# A daemon this script started before is stopped first. Waits until the daemon's socket is
# there. Exit status 0 when it is, non-zero with a message on standard error otherwise.
set -u

fail() {
    printf 'copy.sh: %s\n' "$1" >&2
    exit 1
}

[ "$#" -eq 3 ] || fail "usage: copy.sh DAEMON PLIST UID"
daemon_source=$1
plist_source=$2
uid=$3
case "$uid" in
    '' | *[!0-9]*) fail "the user id '$uid' is not a number" ;;
esac
[ -f "$daemon_source" ] || fail "no daemon at $daemon_source"
[ -f "$plist_source" ] || fail "no property list at $plist_source"
[ "$(id -u)" = 0 ] || fail "must run as root"

root=${HALVORN_ROOT:-/}
while [ "${#root}" -gt 1 ] && [ "${root%/}" != "$root" ]; do root=${root%/}; done
case "$root" in
    /) prefix= ;;
    /*) prefix=$root ;;
    *) fail "HALVORN_ROOT must be an absolute folder" ;;
esac
[ -z "$prefix" ] || [ -d "$prefix" ] || fail "the system root $prefix does not exist"

home=${HALVORN_DAEMON_HOME:-}
log=${HALVORN_DAEMON_LOG:-/dev/null}
tools=$prefix/Library/PrivilegedHelperTools
daemons=$prefix/Library/LaunchDaemons
plist_name=$(basename "$plist_source")
label=${plist_name%.plist}
daemon=$tools/HVNDaemon
plist=$daemons/$plist_name
socket=$prefix/run/halvorn/HVNDamonObject.sock
pidfile=$prefix/run/halvorn/HVNDaemon.pid

# Copies $1 to $2 with mode $3, owned by root, replacing $2 in one rename.
install_file() {
    tmp=$2.new.$$
    rm -f "$tmp"
    if ! { cp "$1" "$tmp" && chown 0:0 "$tmp" && chmod "$3" "$tmp" && mv -f "$tmp" "$2"; }; then
        rm -f "$tmp"
        fail "cannot install $2"
    fi
}

for folder in "$prefix/Library" "$tools" "$daemons"; do
    if [ ! -d "$folder" ]; then
        mkdir -m 0755 "$folder" || fail "cannot create $folder"
    fi
done
if [ -L "$tools" ] || [ -L "$daemons" ]; then
    fail "$tools or $daemons is a symbolic link"
fi
install_file "$daemon_source" "$daemon" 0755
install_file "$plist_source" "$plist" 0644

# Stops the daemon an earlier run of this script started, when it still runs.
stop_detached() {
    [ -f "$pidfile" ] && [ ! -L "$pidfile" ] || return 0
    old=$(cat "$pidfile" 2>/dev/null)
    case "$old" in
        '' | *[!0-9]*) return 0 ;;
    esac
    if [ -r "/proc/$old/cmdline" ] && tr '\0' '\n' <"/proc/$old/cmdline" | head -n 1 | grep -q 'HVNDaemon$'; then
        kill -TERM "$old" 2>/dev/null
        n=0
        while kill -0 "$old" 2>/dev/null && [ "$n" -lt 100 ]; do
            sleep 0.1
            n=$((n + 1))
        done
    fi
    rm -f "$pidfile"
}

# Waits until the socket is there (while the process $1, when given, still runs).
wait_for_socket() {
    n=0
    while [ ! -S "$socket" ]; do
        if [ -n "${1:-}" ] && ! kill -0 "$1" 2>/dev/null; then
            fail "the daemon ended before it served $socket"
        fi
        [ "$n" -lt 150 ] || fail "the daemon did not create $socket"
        sleep 0.1
        n=$((n + 1))
    done
}

stop_detached

if [ -z "$prefix" ] && [ -d /run/systemd/system ] && command -v systemctl >/dev/null 2>&1; then
    unit=/etc/systemd/system/$label.service
    if [ -n "$home" ]; then
        "$daemon" --print-unit "$plist" --user "$uid" --home "$home" >"$unit.new" || fail "cannot make $unit"
    else
        "$daemon" --print-unit "$plist" --user "$uid" >"$unit.new" || fail "cannot make $unit"
    fi
    if ! { chmod 0644 "$unit.new" && mv -f "$unit.new" "$unit"; }; then
        fail "cannot install $unit"
    fi
    systemctl daemon-reload || fail "systemctl daemon-reload failed"
    systemctl enable "$label.service" >/dev/null 2>&1 || fail "cannot enable $label.service"
    systemctl restart "$label.service" || fail "cannot start $label.service"
    wait_for_socket
    exit 0
fi

launcher=
command -v setsid >/dev/null 2>&1 && launcher=setsid
if [ -n "$home" ]; then
    $launcher "$daemon" --foreground --user "$uid" --home "$home" </dev/null >>"$log" 2>&1 &
else
    $launcher "$daemon" --foreground --user "$uid" </dev/null >>"$log" 2>&1 &
fi
pid=$!
wait_for_socket "$pid"
printf '%s\n' "$pid" >"$pidfile" || fail "cannot write $pidfile"
exit 0

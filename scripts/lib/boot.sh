# shellcheck shell=sh
# Sourced by package-check: a fresh Debian root booted with systemd-nspawn
# (systemd as its PID 1, no network but its own lo and a veth pair made inside),
# the package's monitoring unit run there for real, and checks of what it did.
# Needs root; uses check() from common.sh.

# boot_root ROOT LOG: boots ROOT with a private network; sets $nspawn to
# systemd-nspawn's pid and $leader to the container's init once it runs.
boot_root() {
    log=$2
    set -- --boot --private-network --console=pipe -D "$1"
    if [ "$(cat /proc/1/comm)" != systemd ]; then
        # No systemd here to make a scope or register the machine with: nspawn
        # keeps the cgroup it starts in, which must be one of its own.
        set -- "$@" --register=no --keep-unit
    fi
    sh -c 'for cgroups in /sys/fs/cgroup/systemd /sys/fs/cgroup/unified; do
               [ ! -d "$cgroups" ] || { mkdir -p "$cgroups/lbxboot" &&
                   echo $$ >"$cgroups/lbxboot/cgroup.procs"; }
           done
           if [ ! -d /sys/fs/cgroup/systemd ] && [ -e /sys/fs/cgroup/cgroup.procs ]; then
               mkdir -p /sys/fs/cgroup/lbxboot && echo $$ >/sys/fs/cgroup/lbxboot/cgroup.procs
           fi
           exec systemd-nspawn "$@"' boot "$@" </dev/null >"$log" 2>&1 &
    nspawn=$!
    leader=""
    tries=0
    # is-system-running exits 1 for "degraded", which a container often is.
    until [ -n "$leader" ] && state=$(inside systemctl is-system-running 2>/dev/null || true) &&
        { [ "$state" = running ] || [ "$state" = degraded ]; }; do
        tries=$((tries + 1))
        if [ $tries -gt 300 ] || ! kill -0 "$nspawn" 2>/dev/null; then
            echo "the root did not boot:"
            tail -n 20 "$log"
            return 1
        fi
        [ -n "$leader" ] || leader=$(pgrep -P "$nspawn" | head -n 1)
        sleep 0.2
    done
    echo "booted: systemd is $state (pid $leader here)"
}

# inside COMMAND...: runs COMMAND in the booted container.
inside() { nsenter -t "$leader" -a "$@"; }

# shut_down: powers the container off, and waits for it.
shut_down() {
    [ -n "${nspawn:-}" ] || return 0
    kill -TERM "$nspawn" 2>/dev/null || true
    wait "$nspawn" 2>/dev/null || true
    nspawn=""
}

# run_check: starts the check once, as the timer would, and prints how it
# ended: "Result ExecMainStatus".
run_check() {
    # Started more often than the timer would: not the rate systemd limits.
    inside systemctl reset-failed lbxctl-check.service
    inside systemctl start lbxctl-check.service 2>/dev/null || true
    echo "$(inside systemctl show lbxctl-check.service -p Result --value)" \
        "$(inside systemctl show lbxctl-check.service -p ExecMainStatus --value)"
}

# served: what node_exporter serves of a metric, its lines sorted.
served() { inside curl -s localhost:9100/metrics | grep "^$1" | sort; }

# until_true SECONDS COMMAND...: until COMMAND succeeds, at most SECONDS.
until_true() {
    limit=$1
    shift
    tries=0
    until "$@"; do
        tries=$((tries + 1))
        [ $tries -lt $((limit * 5)) ] || return 1
        sleep 0.2
    done
}

# monitoring_checks: in the booted container, with the package and
# node_exporter installed: the unit's run under its sandbox, its journal line,
# the metrics through node_exporter, the timer, a converter switched off, bad
# rosters, and a full state directory.
monitoring_checks() {
    inside sh -c 'ip link add lbx0 type veth peer name lbx1 && ip addr add 10.77.0.1/24 dev lbx0 &&
        ip link set lbx0 up && ip link set lbx1 up && ip route add default dev lbx0'
    inside systemd-run --quiet --unit=lbxsim /usr/bin/lbxsim --count 4
    until_true 10 inside sh -c 'journalctl -u lbxsim -o cat | grep -q " converters on "' || true
    inside sh -c 'umask 077 && mkdir -p /etc/lbxconfig &&
        lbxctl discover --save /etc/lbxconfig/roster.json --timeout 0.5 >/dev/null'
    check "the roster, saved under umask 077, is root's alone" \
        "$(inside stat -c '%a %U' /etc/lbxconfig/roster.json)" "600 root"
    inside systemctl enable --quiet --now lbxctl-check.timer
    check "the unit runs to its end" "$(run_check)" "success 0"
    check "as its own user, writing only its state directory" \
        "$(inside stat -c '%U %a' /var/lib/lbxconfig/lbxconfig.prom)" "lbxctl 644"
    exposure=$(inside systemd-analyze security lbxctl-check.service 2>/dev/null |
        sed -n 's/.*Overall exposure level for [^:]*: \([0-9.]*\).*/\1/p')
    check "under its sandbox (exposure $exposure, at most 2.0)" \
        "$(awk -v e="${exposure:-99}" 'BEGIN { print (e <= 2.0) ? "safe" : "exposed" }')" safe
    check "one line in the journal tells the run" \
        "$(inside journalctl -u lbxctl-check.service -o cat | grep -c '4 of 4 expected converters answered; all ok')" 1
    until_true 30 sh -c "[ \"\$(nsenter -t $leader -a curl -s localhost:9100/metrics |
        grep -c '^lbx_converter_up{.*} 1')\" = 4 ]" || true
    check "node_exporter serves the metrics: four converters up" \
        "$(served lbx_converter_up | grep -c '} 1$')" 4
    check "and when the last check succeeded" \
        "$(served lbx_check_last_success_timestamp_seconds | grep -c .)" 1
    status=0
    until_true 75 sh -c "[ \"\$(nsenter -t $leader -a journalctl -u lbxctl-check.service -o cat |
        grep -c 'expected converters answered')\" -ge 2 ]" || status=$?
    check "the timer runs the check" "$status" 0
    # From here on only the checks started here run: none of the timer's between.
    inside systemctl stop lbxctl-check.timer

    inside systemctl stop lbxsim
    inside systemd-run --quiet --unit=lbxsim3 /usr/bin/lbxsim --count 3
    until_true 10 inside sh -c 'journalctl -u lbxsim3 -o cat | grep -q " converters on "' || true
    check "a converter switched off: the check ends all the same" "$(run_check)" "success 1"
    # node_exporter serves the labels in the order of their names.
    status=0
    until_true 30 sh -c "nsenter -t $leader -a curl -s localhost:9100/metrics |
        grep -q '^lbx_converter_up{ip=\"127.0.0.5\",uuid=\"LBXSIM000004\"} 0'" || status=$?
    check "node_exporter serves it as down" "$status" 0
    check "the journal names it" \
        "$(inside journalctl -u lbxctl-check.service -o cat | grep -c '1 missing: LBXSIM000004')" 1

    inside cp /etc/lbxconfig/roster.json /etc/lbxconfig/roster.good
    inside sh -c 'head -c 50 /etc/lbxconfig/roster.good >/etc/lbxconfig/roster.json'
    check "a truncated roster fails the unit" "$(run_check)" "exit-code 2"
    inside sh -c ': >/etc/lbxconfig/roster.json'
    check "an empty roster fails the unit" "$(run_check)" "exit-code 2"
    inside rm /etc/lbxconfig/roster.json
    check "a missing roster fails the unit" "$(run_check | cut -d' ' -f1)" "exit-code"
    check "with a line that says so" \
        "$(inside journalctl -u lbxctl-check.service -o cat | grep -c 'is not a roster\|lists no converter\|redentials')" 3
    inside mv /etc/lbxconfig/roster.good /etc/lbxconfig/roster.json

    inside cp /var/lib/lbxconfig/lbxconfig.prom /tmp/metrics.good
    inside sh -c 'mount -t tmpfs -o size=64k,mode=0755 tmpfs /var/lib/lbxconfig &&
        install -o lbxctl -g lbxctl -m 0644 /tmp/metrics.good /var/lib/lbxconfig/lbxconfig.prom &&
        dd if=/dev/zero of=/var/lib/lbxconfig/filler bs=1k 2>/dev/null; true'
    check "a full state directory fails the unit with 74" "$(run_check)" "exit-code 74"
    inside journalctl -u lbxctl-check.service -o cat | tail -n 4 | sed 's/^/  journal: /' 
    check "and leaves the old metrics whole" \
        "$(inside cmp /tmp/metrics.good /var/lib/lbxconfig/lbxconfig.prom && echo whole)" whole
    inside umount /var/lib/lbxconfig
}

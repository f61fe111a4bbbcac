#!/bin/sh
# The helper scripts as the tests and benchmarks rely on them. Runs inside
# scripts/netns-run, after a build.
set -u
cd "$(dirname "$0")/.." || exit 1
# shellcheck source=tests/shelltest.sh
. tests/shelltest.sh

# A simulator that cannot start is no simulator: the command must not run.
status=0
scripts/with-simulator touch "$work/ran" -- --count 0 >"$work/out" 2>&1 || status=$?
check "with-simulator fails when lbxsim refuses its options" "$status" 1
check "with-simulator runs nothing then" "$([ -e "$work/ran" ] && echo ran || echo 'not run')" "not run"
status=0
scripts/with-simulator touch "$work/ran" -- --count 2 >"$work/out" 2>&1 || status=$?
check "with-simulator runs the command beside a started lbxsim" "$status:$([ -e "$work/ran" ] && echo ran)" "0:ran"

# Stopped with SIGTERM, with-xvfb takes its Xvfb with it.
scripts/with-xvfb sleep 60 &
wrapper=$!
xvfb=""
tries=0
while [ -z "$xvfb" ] && [ $tries -lt 100 ]; do
    xvfb=$(pgrep -P $wrapper -x Xvfb || true)
    tries=$((tries + 1))
    sleep 0.05
done
check "with-xvfb starts Xvfb" "$([ -n "$xvfb" ] && echo started)" started
kill -TERM $wrapper
status=0
wait $wrapper || status=$?
check "with-xvfb ends on SIGTERM" "$status" 143
tries=0
while [ -n "$xvfb" ] && kill -0 "$xvfb" 2>/dev/null && [ $tries -lt 100 ]; do
    tries=$((tries + 1))
    sleep 0.05
done
check "no Xvfb is left running" "$([ -n "$xvfb" ] && kill -0 "$xvfb" 2>/dev/null && echo running || echo gone)" gone

check "lbxsim --help names itself, not the path it was started by" \
    "$(build/tools/lbxsim/lbxsim --help | head -n 1)" "Usage: lbxsim [options]"

# Without a display the window cannot start: start and demo say so, and what
# does the job from a terminal, and build nothing; with one, start shows it.
for script in start demo; do
    status=0
    env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM sh "scripts/$script" >"$work/out" 2>&1 ||
        status=$?
    check "$script without a display says so, and exits 1" \
        "$status:$(grep -c 'needs a desktop session' "$work/out"):$(grep -c 'lbxctl discover' "$work/out")" \
        "1:1:1"
done
status=0
scripts/with-xvfb python3 scripts/lib/xwin.py photograph LBXConfig - 120 sh scripts/start \
    >"$work/out" 2>&1 || status=$?
check "start with a display shows the window, which searches once and closes with exit status 0" \
    "$status:$(grep -c 'sendData ' "$work/out"):$(grep -c 'sendData .*lbx.info.* "255.255.255.255" 12166' "$work/out")" \
    "0:1:1"

# A benchmark started bare would reach a real network: each refuses first.
for bench in "python3 bench/set_all.py" "build/bench/lbxbench-burst 1 100"; do
    status=0
    # shellcheck disable=SC2086
    env -u LBX_SANDBOX $bench >"$work/out" 2>&1 || status=$?
    check "$bench refuses to run outside the namespace" \
        "$status:$(grep -c '^refused: ' "$work/out")" "1:1"
done

echo "$failures failed"
[ "$failures" -eq 0 ]

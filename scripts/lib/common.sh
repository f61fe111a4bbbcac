# shellcheck shell=sh
# Sourced by the scripts and the shell tests: a step timer, PASS/FAIL checks,
# and the installation of what Debian packages are missing. POSIX sh.

# step TEXT...: a heading with the seconds since the start; step_summary keeps
# how long each finished step took, a line each.
lib_started=$(date +%s)
step_summary=""
step() {
    now=$(date +%s)
    [ -z "${step_name:-}" ] ||
        step_summary="$step_summary$(printf '%6s s  %s' $((now - step_started)) "$step_name")
"
    step_name=$*
    step_started=$now
    printf '\n== [%4ss] %s\n' $((now - lib_started)) "$*"
}

# check WHAT GOT EXPECTED: PASS or FAIL, counted in failures.
failures=0
check() {
    if [ "$2" = "$3" ]; then
        echo "PASS: $1"
    else
        echo "FAIL: $1: got \"$2\", expected \"$3\""
        failures=$((failures + 1))
    fi
}

# install_missing PACKAGE...: installs those not installed, with apt-get (as
# root, otherwise through sudo), without starting any service they bring.
install_missing() {
    missing=""
    for package in "$@"; do
        dpkg-query -W -f='${Status}\n' "$package" 2>/dev/null | grep -q 'install ok installed' ||
            missing="$missing $package"
    done
    [ -n "$missing" ] || return 0
    echo "installing$missing"
    as_root=""
    [ "$(id -u)" -eq 0 ] || as_root=sudo
    $as_root apt-get update -qq
    guard=""
    if [ ! -e /usr/sbin/policy-rc.d ]; then
        guard=/usr/sbin/policy-rc.d
        printf '#!/bin/sh\nexit 101\n' | $as_root tee $guard >/dev/null
        $as_root chmod +x $guard
    fi
    status=0
    # shellcheck disable=SC2086
    $as_root env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends \
        $missing >/dev/null || status=$?
    [ -z "$guard" ] || $as_root rm -f "$guard"
    return $status
}

# require_display SCRIPT: the window needs a desktop session. Where there is
# none (no DISPLAY, no WAYLAND_DISPLAY, no QT_QPA_PLATFORM chosen), says so and
# what does the job from a terminal, before anything is built, and exits 1:
# Qt would otherwise abort with advice to reinstall.
require_display() {
    [ -z "${DISPLAY:-}${WAYLAND_DISPLAY:-}${QT_QPA_PLATFORM:-}" ] || return 0
    echo "$1: no display here: the LBXConfig window needs a desktop session (or ssh -X)." >&2
    echo "From a terminal lbxctl does the same job; try it on simulated converters:" \
        "scripts/install-deps run && scripts/build && scripts/netns-run scripts/with-simulator" \
        "build/tools/lbxctl/lbxctl discover" >&2
    exit 1
}

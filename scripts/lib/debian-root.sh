# shellcheck shell=sh
# Sourced by the scripts that prove LBXConfig on a fresh Debian 12 root
# (package-check, fresh-check). Needs root.

# The Debian mirror this machine's apt uses.
debian_mirror() {
    mirror=$(sed -n 's/^URIs: *\([^ ]*\/debian\)$/\1/p' /etc/apt/sources.list.d/debian.sources 2>/dev/null | head -n 1)
    [ -n "$mirror" ] || mirror=$(sed -n 's/^deb \(http[^ ]*\) bookworm .*/\1/p' /etc/apt/sources.list 2>/dev/null | head -n 1)
    [ -n "$mirror" ] || { echo "no Debian mirror found in this machine's apt sources" >&2; return 1; }
    echo "$mirror"
}

# make_debian_root DIR LOG: a fresh bookworm minbase root in DIR, its log in LOG.
make_debian_root() {
    mirror=$(debian_mirror)
    debootstrap --variant=minbase bookworm "$1" "$mirror" >"$2" 2>&1 || { tail -n 20 "$2"; return 1; }
    cp /etc/resolv.conf "$1/etc/resolv.conf"
    echo "$(du -sh "$1" | cut -f1) in $1, from $mirror"
}

# remove_debian_root DIR: unmounts whatever is mounted below DIR, then removes it;
# leaves it in place, and fails, while anything is still mounted there, since
# removing a bound /dev would remove the host's.
remove_debian_root() {
    [ -d "$1" ] || return 0
    path=$(realpath "$1")
    awk -v root="$path/" 'index($2, root) == 1 { print $2 }' /proc/mounts | sort -r |
        while read -r mount; do
            umount -l "$mount" 2>/dev/null || true
        done
    if awk -v root="$path/" 'index($2, root) == 1 { found = 1 } END { exit !found }' /proc/mounts; then
        echo "still mounted below $path; not removed" >&2
        return 1
    fi
    rm -rf "$path"
}

# Sourced by the scripts that make Debian roots: the mirror to debootstrap from.
mirror() {
    # Use the mirror this machine's apt already trusts; fall back to Debian's main one.
    local uri
    uri=$(grep -rhoE '^(URIs:|deb)[[:space:]]+https?://[^ ]*debian[^ ]*' /etc/apt/sources.list /etc/apt/sources.list.d/ 2>/dev/null \
          | grep -v security | head -n1 | awk '{print $2}')
    echo "${uri:-http://deb.debian.org/debian}"
}

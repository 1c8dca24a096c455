# validate_tree ROOT PREFIX: the desktop entry and the AppStream metadata of an
# installed tree pass their validators; skipped (77) when a validator is missing.
validate_tree() {
    local root=$1 prefix=$2 tool
    for tool in desktop-file-validate appstreamcli; do
        if ! command -v $tool >/dev/null; then
            echo "SKIP: $tool is missing (apt-get install desktop-file-utils appstream)"
            exit 77
        fi
    done
    desktop-file-validate "$root$prefix"/share/applications/*.desktop ||
        fail "desktop-file-validate"
    appstreamcli validate --no-net "$root$prefix"/share/metainfo/*.metainfo.xml ||
        fail "appstreamcli validate"
}
fail() { echo "FAIL: $*"; exit 1; }
# check_firewall ETC USR: the ufw profile and the firewalld service name the same
# ports (TFTP, boot offers and DHCP, HTTP), and firewalld's has the TFTP helper; a second
# ufw profile leaves HTTP out.
check_firewall() {
    local ufw=$1/ufw/applications.d/vantrel-server xml=$2/lib/firewalld/services/vantrel-server.xml
    grep -qx '\[vantrel-server\]' "$ufw" || fail "no ufw profile vantrel-server in $ufw"
    grep -qx 'ports=69,67,547,4011/udp|8080/tcp' "$ufw" || fail "the ufw profile names other ports"
    # The second profile, for HTTP off: the UDP ports alone.
    grep -qx '\[vantrel-server-tftp\]' "$ufw" || fail "no ufw profile vantrel-server-tftp in $ufw"
    [ "$(grep -c '^ports=' "$ufw")" = 2 ] && grep -qx 'ports=69,67,547,4011/udp' "$ufw" ||
        fail "the ufw profile without HTTP names other ports"
    [ "$(python3 -c 'import sys, xml.etree.ElementTree as E
s = E.parse(sys.argv[1]).getroot()
print(" ".join(p.get("port") + "/" + p.get("protocol") for p in s.iter("port")),
      *[h.get("name") for h in s.iter("helper")])' "$xml")" = "69/udp 67/udp 547/udp 4011/udp 8080/tcp tftp" ] ||
        fail "the firewalld service $xml names other ports or no TFTP helper"
}

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

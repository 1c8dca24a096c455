#!/bin/bash
# The include rule of the Layout table in docs/developers.md, on every source file of the product
# (engine/*, settings, ui, feedback, app), walked with find: no git needed. A file's
# quoted includes must stay in its own folder or reach what its row allows; a bare name
# ("MainFrame.h") counts as the folder that holds a file of that name. A folder with
# code and no row fails too, so a new wing gets its row. Each finding is printed; any
# fails.
#   includes.sh REPOSITORY
set -u
cd "$1" || exit 2
[ -d engine ] || { echo "no engine/ under $1"; exit 2; }

# Source (a folder, or a file's name without its extension) and what it may include
# besides itself: a path ending in / is a whole folder, otherwise one header. The most
# specific row wins.
rules=$(
    cat <<'EOF'
engine/platform
engine/tftp              engine/platform/Platform.h
engine/config            engine/tftp/Options.h
engine/iso
engine/files             engine/platform/ engine/iso/
engine/server            engine/tftp/ engine/files/ engine/platform/ engine/config/
engine/http              engine/server/ServiceContext.h engine/server/Admission.h engine/server/ServerWindow.h engine/files/ engine/platform/ engine/tftp/ engine/config/
engine/bootp
engine/boot              engine/iso/ engine/bootp/ engine/http/HttpRedirect.h engine/server/ServiceContext.h engine/server/Admission.h engine/server/ServerWindow.h engine/files/ engine/platform/ engine/config/
engine/dhcp              engine/bootp/ engine/boot/BootPolicy.h engine/tftp/TftpPacket.h engine/platform/ engine/server/ServerWindow.h engine/config/
engine/client            engine/tftp/ engine/platform/ engine/bootp/AddressText.h
engine/firewall
engine/host              engine/
settings                 engine/config/ engine/host/
feedback                 engine/host/ engine/config/ engine/server/ServerWindow.h
ui                       feedback/ settings/ engine/host/ engine/config/ engine/server/ServerWindow.h engine/bootp/ engine/boot/ engine/dhcp/ engine/client/ engine/tftp/ engine/firewall/
app                      ui/ feedback/ settings/ engine/host/ engine/config/ engine/server/ServerWindow.h engine/client/ engine/tftp/ engine/platform/FolderFiles.h engine/bootp/AddressText.h
EOF
)

mapfile -t files < <(find engine settings ui feedback app -type f \( -name '*.cpp' -o -name '*.h' \) | sort)
[ ${#files[@]} -gt 50 ] || { echo "only ${#files[@]} source files found under $PWD"; exit 2; }
# Where each bare name lives (the first file of that name).
declare -A where
for f in "${files[@]}"; do
    b=${f##*/}
    [ -n "${where[$b]:-}" ] || where[$b]=$f
done

# The row for a file: its name's stem if that has a row, else its nearest folder that has.
declare -A allows
while read -r key rest; do
    [ -n "$key" ] && allows[$key]=$rest
done <<<"$rules"
row_of() { # sets row
    local p=${1%.*}
    row=
    while [ -z "${allows[$p]+set}" ]; do
        [[ $p == */* ]] || return 0
        p=${p%/*}
    done
    row=$p
}

found=0
for f in "${files[@]}"; do
    row_of "$f"
    if [ -z "$row" ]; then
        echo "no row for $f: give its folder a row here and in docs/developers.md's table"
        found=1
    fi
done
# Every quoted include at once, as FILE:LINE:NAME.
while IFS=: read -r f line name; do
    row_of "$f"
    [ -n "$row" ] || continue
    allowed=${allows[$row]}
    target=$name
    if [[ $name != */* ]]; then
        [ -e "${f%/*}/$name" ] && continue
        target=${where[$name]:-}
        [ -n "$target" ] || continue # generated (ui_*.h) or the system's
    fi
    case $target in
    engine/* | settings/* | ui/* | feedback/* | app/*) ;;
    *) continue ;;
    esac
    case $target in "$row"/* | "$row".*) continue ;; esac
    ok=0
    for a in $allowed; do
        case $a in
        */) [[ $target == "$a"* ]] && ok=1 ;;
        *) [[ $target == "$a" ]] && ok=1 ;;
        esac
    done
    if [ $ok -eq 0 ]; then
        echo "$f:$line: includes $target; $row may include: ${allowed:-nothing of the product}"
        found=1
    fi
done < <(grep -H -n -E '^[[:space:]]*#[[:space:]]*include[[:space:]]*"' "${files[@]}" |
    sed -E 's/^([^:]+):([0-9]+):.*"([^"]+)".*/\1:\2:\3/')

# The engine and the store are below the window: no widgets there.
hits=$(grep -n -E '#[[:space:]]*include[[:space:]]*<(QtWidgets|QWidget|QApplication|QDialog)' \
    -r engine settings --include='*.cpp' --include='*.h')
if [ -n "$hits" ]; then
    echo "widgets below the window:"
    echo "$hits"
    found=1
fi
exit $found

#!/bin/sh
# Starts the headless server with its settings from a mounted file or from the
# environment, then becomes it (exec), so SIGTERM reaches the program itself.
#   VANTREL_SETTINGS   the settings file (default /config/vantrel-server.conf when there)
#   VANTREL_<Section>_<Key>=VALUE   one key each, when no file is given: for instance
#                      VANTREL_Protocol_SinglePort=1, VANTREL_Http_Enabled=1
# The served folder is /srv/tftp unless the settings name another (DirName).
# Arguments are passed on: --port 6969, --address ::1 and so on.
set -eu
settings=${VANTREL_SETTINGS:-}
if [ -z "$settings" ] && [ -f /config/vantrel-server.conf ]; then
    settings=/config/vantrel-server.conf
fi
if [ -z "$settings" ]; then
    settings=$HOME/vantrel-server.conf
    # One section per variable's middle part; names are letters and digits only and a
    # value is one line, so a variable cannot write another key or section.
    env | LC_ALL=C sort | awk -v dir=/srv/tftp '
        BEGIN { print "[WorkingDir]"; print "DirName=" dir }
        /^VANTREL_[A-Za-z0-9]+_[A-Za-z0-9]+=/ {
            eq = index($0, "="); name = substr($0, 9, eq - 9); value = substr($0, eq + 1)
            us = index(name, "_"); section = substr(name, 1, us - 1); key = substr(name, us + 1)
            if (section == "WorkingDir" && key == "DirName") { print "DirName=" value; next }
            lines[section] = lines[section] key "=" value "\n"
        }
        END { for (s in lines) { printf "\n[%s]\n%s", s, lines[s] } }
    ' > "$settings.new"
    mv "$settings.new" "$settings"
fi
exec /usr/bin/vantrel-server --headless --settings "$settings" "$@"

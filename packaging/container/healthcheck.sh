#!/bin/sh
# A real TFTP read from the server in this container: VANTREL_HEALTH_FILE when set (it
# must come whole), else a name no folder holds, which a live server answers with
# ERROR 1 (file not found): that answer proves the listener and the engine work, and
# silence or a refusal does not. The fetched copy goes to a file of our own, never to
# /dev/null: the client puts a complete file in place by renaming it there.
port=${VANTREL_HEALTH_PORT:-69}
name=${VANTREL_HEALTH_FILE:-.vantrel-health-probe}
out=$(/usr/bin/vantrel-server --get "tftp://127.0.0.1:$port/$name" \
    --output /tmp/vantrel-health --overwrite 2>&1 >/dev/null)
rc=$?
rm -f /tmp/vantrel-health
[ $rc -eq 0 ] && exit 0
if [ -z "${VANTREL_HEALTH_FILE:-}" ] && [ $rc -eq 1 ]; then
    case $out in *"answered with error 1:"*) exit 0 ;; esac
fi
printf '%s\n' "$out" >&2
exit 1

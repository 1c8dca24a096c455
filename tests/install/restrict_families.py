#!/usr/bin/python3
# restrict_families.py "AF_INET AF_INET6 ..." COMMAND [ARG...]
# Runs COMMAND under the address-family allow-list a systemd unit's
# RestrictAddressFamilies= gives, applied the way systemd applies it where no systemd
# runs: a seccomp filter on socket() that fails every other family with EAFNOSUPPORT
# (inherited by COMMAND and its children). Only the allow-list form is understood.
import errno
import os
import socket
import sys

import seccomp

families = sys.argv[1].split()
if not families or any(f.startswith("~") for f in families):
    sys.exit("restrict_families.py: only an allow-list is understood: %r" % sys.argv[1])
allowed = {int(getattr(socket, name)) for name in families}

f = seccomp.SyscallFilter(defaction=seccomp.ALLOW)
refuse = seccomp.ERRNO(errno.EAFNOSUPPORT)
for family in range(64):
    if family not in allowed:
        f.add_rule(refuse, "socket", seccomp.Arg(0, seccomp.EQ, family))
f.add_rule(refuse, "socket", seccomp.Arg(0, seccomp.GE, 64))
f.load()  # also sets no_new_privs, as the unit's NoNewPrivileges=yes does
os.execvp(sys.argv[2], sys.argv[2:])

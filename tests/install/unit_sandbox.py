#!/usr/bin/python3
# unit_sandbox.py UNIT_FILE COMMAND [ARG...]
# Runs COMMAND under the seccomp half of a systemd unit's sandbox, applied where no
# systemd runs as systemd applies it: filters loaded just before execve (so the dynamic
# loader already runs under them), inherited by COMMAND and its children, with
# no_new_privs set. The groups SystemCallFilter= names are expanded by this machine's
# own systemd tables (systemd-analyze syscall-filter), not by a list of ours. Applied:
#   SystemCallFilter= (an allow-list) with SystemCallErrorNumber=, native calls only
#   RestrictAddressFamilies= (an allow-list)
#   MemoryDenyWriteExecute=, LockPersonality=, RestrictRealtime=, RestrictNamespaces=,
#   RestrictSUIDSGID= (the chmod calls), NoNewPrivileges=
# A property of the unit that is not understood here ends the run: nothing is applied
# halfway. The properties done with mounts, users and capabilities are the caller's.
import errno
import os
import socket
import stat
import subprocess
import sys

import seccomp

unit_path, command = sys.argv[1], sys.argv[2:]
props = {}
with open(unit_path) as unit:
    for line in unit:
        line = line.strip()
        if line and not line.startswith(("#", ";", "[")) and "=" in line:
            key, value = line.split("=", 1)
            props[key] = value


def flag(key):
    return props.get(key, "no") in ("yes", "true", "1", "on")


def die(why):
    sys.exit("unit_sandbox.py: " + why)


def groups():
    """Each @group of this machine's systemd with its members (calls and @groups)."""
    text = subprocess.run(["systemd-analyze", "syscall-filter"], capture_output=True,
                          text=True, check=True).stdout
    table, current = {}, None
    for line in text.splitlines():
        if line.startswith("@"):
            current = table.setdefault(line.strip(), [])
        elif current is not None and line.strip() and not line.strip().startswith("#"):
            current.append(line.strip())
    return table


def expand(names, table, seen=None):
    seen = set() if seen is None else seen
    calls = set()
    for name in names:
        if name.startswith("@"):
            if name not in table:
                die("unknown group " + name)
            if name not in seen:
                seen.add(name)
                calls |= expand(table[name], table, seen)
        else:
            calls.add(name)
    return calls


def error_action(key, default):
    name = props.get(key, "")
    if not name:
        return default
    return seccomp.ERRNO(getattr(errno, name) if not name.isdigit() else int(name))


applied = []
filters = []

# SystemCallFilter=: every other call fails (with SystemCallErrorNumber=, else the
# process is killed, as systemd does).
if "SystemCallFilter" in props:
    listed = props["SystemCallFilter"].split()
    if not listed or listed[0].startswith("~"):
        die("only an allow-list SystemCallFilter= is understood")
    f = seccomp.SyscallFilter(defaction=error_action("SystemCallErrorNumber", seccomp.KILL_PROCESS))
    for call in sorted(expand(listed, groups())):
        try:
            f.add_rule(seccomp.ALLOW, call)
        except (RuntimeError, ValueError):
            pass  # a call this architecture does not have
    filters.append(f)
    applied.append("SystemCallFilter")
if props.get("SystemCallArchitectures", "native") != "native":
    die("only SystemCallArchitectures=native is understood")
# A filter holds the native architecture alone: calls of any other ABI are refused.

# The rest refuse what they refuse with EPERM over a filter that allows everything else.
eperm = seccomp.ERRNO(errno.EPERM)
rest = seccomp.SyscallFilter(defaction=seccomp.ALLOW)
families = props.get("RestrictAddressFamilies", "").split()
if families:
    if families[0].startswith("~"):
        die("only an allow-list RestrictAddressFamilies= is understood")
    allowed = {int(getattr(socket, name)) for name in families}
    refuse = seccomp.ERRNO(errno.EAFNOSUPPORT)
    for family in range(64):
        if family not in allowed:
            rest.add_rule(refuse, "socket", seccomp.Arg(0, seccomp.EQ, family))
    rest.add_rule(refuse, "socket", seccomp.Arg(0, seccomp.GE, 64))
    applied.append("RestrictAddressFamilies")
if flag("MemoryDenyWriteExecute"):
    wx = 0x2 | 0x4  # PROT_WRITE | PROT_EXEC
    rest.add_rule(eperm, "mmap", seccomp.Arg(2, seccomp.MASKED_EQ, wx, wx))
    rest.add_rule(eperm, "mprotect", seccomp.Arg(2, seccomp.MASKED_EQ, 0x4, 0x4))
    rest.add_rule(eperm, "pkey_mprotect", seccomp.Arg(2, seccomp.MASKED_EQ, 0x4, 0x4))
    rest.add_rule(eperm, "shmat", seccomp.Arg(2, seccomp.MASKED_EQ, 0o100000, 0o100000))
    applied.append("MemoryDenyWriteExecute")
if flag("LockPersonality"):
    # Only the personality it runs with (PER_LINUX), as systemd compares it.
    rest.add_rule(eperm, "personality", seccomp.Arg(0, seccomp.NE, 0))
    applied.append("LockPersonality")
if flag("RestrictRealtime"):
    for policy in (1, 2, 6):  # SCHED_FIFO, SCHED_RR, SCHED_DEADLINE
        rest.add_rule(eperm, "sched_setscheduler",
                      seccomp.Arg(1, seccomp.MASKED_EQ, 0x3fffffff, policy))
    applied.append("RestrictRealtime")
if flag("RestrictNamespaces"):
    for ns in (0x00020000, 0x02000000, 0x04000000, 0x08000000, 0x10000000, 0x20000000,
               0x40000000, 0x00000080):  # CLONE_NEWNS .. NEWNET, NEWCGROUP, NEWTIME
        rest.add_rule(eperm, "unshare", seccomp.Arg(0, seccomp.MASKED_EQ, ns, ns))
        rest.add_rule(eperm, "clone", seccomp.Arg(0, seccomp.MASKED_EQ, ns, ns))
    rest.add_rule(eperm, "setns")
    # clone3's flags sit in memory a filter cannot read: systemd answers ENOSYS, so
    # that the C library falls back to clone.
    rest.add_rule(seccomp.ERRNO(errno.ENOSYS), "clone3")
    applied.append("RestrictNamespaces")
if flag("RestrictSUIDSGID"):
    # The chmod calls that would set either bit (systemd also watches creating calls).
    for call, arg in (("chmod", 1), ("fchmod", 1), ("fchmodat", 2)):
        for bit in (stat.S_ISUID, stat.S_ISGID):
            rest.add_rule(eperm, call, seccomp.Arg(arg, seccomp.MASKED_EQ, bit, bit))
    applied.append("RestrictSUIDSGID")
filters.append(rest)
if flag("NoNewPrivileges"):
    applied.append("NoNewPrivileges")  # libseccomp sets it as a filter loads

print("unit_sandbox.py: " + " ".join(applied), file=sys.stderr, flush=True)
# The allow-list last: once it holds, seccomp() itself may be refused.
for f in reversed(filters):
    f.load()
os.execvp(command[0], command)

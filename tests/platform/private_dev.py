#!/usr/bin/env python3
# Runs a command in a private mount namespace whose /dev holds only a few basic nodes and fresh
# pseudo-terminals under serial device names, so serial tests never reach the machine's ports.
"""Usage: private_dev.py NAME [NAME...] -- COMMAND [ARGS...]

Each NAME (e.g. ttyUSB0) becomes /dev/NAME inside the namespace, bound to the slave side of a
new pseudo-terminal whose master this script keeps open while the command runs. The lock
directories are private too, so lock files never touch the machine's. Exits 77 (skip)
when not root or when no mount namespace can be made; otherwise with the command's status.
"""

import os
import shutil
import subprocess
import sys

SKIP = 77
MARKER = ".private-dev-for-tests"
BASIC_NODES = ("null", "zero", "full", "random", "urandom", "tty")


def run(*args):
    subprocess.run(args, check=True)


def inside(bindings, command):
    """In the new namespace: builds the private /dev and lock directories, then runs command."""
    # The serial library keeps its lock files in the first of these it finds (then /tmp).
    private = sorted({os.path.realpath(d) for d in ("/var/lock", "/run/lock") if os.path.isdir(d)})
    for d in private or ["/tmp"]:
        run("mount", "-t", "tmpfs", "-o", "mode=1777", "tmpfs", d)
    stage = os.path.join((private or ["/tmp"])[0], ".dev")
    os.mkdir(stage)
    run("mount", "-t", "tmpfs", "-o", "mode=755", "tmpfs", stage)
    binds = [(f"/dev/{n}", n) for n in BASIC_NODES if os.path.exists(f"/dev/{n}")]
    binds += [(slave, name) for name, slave in bindings]
    for source, name in binds:
        target = os.path.join(stage, name)
        open(target, "w").close()
        run("mount", "--bind", source, target)
    for name, fd in (("stdin", 0), ("stdout", 1), ("stderr", 2)):
        os.symlink(f"/proc/self/fd/{fd}", os.path.join(stage, name))
    os.symlink("/proc/self/fd", os.path.join(stage, "fd"))
    with open(os.path.join(stage, MARKER), "w") as marker:
        marker.write("private /dev for the serial tests\n")
    run("mount", "--move", stage, "/dev")
    os.execvp(command[0], command)


def main(argv):
    if len(argv) >= 2 and argv[1] == "--inside":
        split = argv.index("--")
        bindings = [tuple(b.split("=", 1)) for b in argv[2:split]]
        inside(bindings, argv[split + 1:])
        return 1  # not reached

    if "--" not in argv or argv.index("--") < 2 or argv.index("--") == len(argv) - 1:
        print(__doc__, file=sys.stderr)
        return 2
    split = argv.index("--")
    names, command = argv[1:split], argv[split + 1:]

    if os.geteuid() != 0:
        print("skip: a private /dev needs root", file=sys.stderr)
        return SKIP
    unshare = shutil.which("unshare")
    if unshare is None:
        print("skip: unshare (util-linux) is not installed", file=sys.stderr)
        return SKIP
    probe = subprocess.run([unshare, "--mount", "--propagation", "private", "true"],
                           capture_output=True, text=True)
    if probe.returncode != 0:
        print(f"skip: no mount namespace here: {probe.stderr.strip()}", file=sys.stderr)
        return SKIP

    masters = []
    bindings = []
    for name in names:
        master, slave = os.openpty()
        bindings.append(f"{name}={os.ttyname(slave)}")
        os.close(slave)  # the master keeps the terminal alive; the test opens the slave by name
        masters.append(master)
    try:
        inner = [unshare, "--mount", "--propagation", "private", "--",
                 sys.executable, os.path.abspath(__file__), "--inside", *bindings, "--",
                 *command]
        return subprocess.run(inner).returncode
    finally:
        for master in masters:
            os.close(master)


if __name__ == "__main__":
    sys.exit(main(sys.argv))

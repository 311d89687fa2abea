#!/usr/bin/env python3
"""Two processes on one library for a while.

One side plays the host application: `quillet-fp host` commands import
files, make notes, replace contents, rename, move and trash items and
folders, and each change must show in the mount within seconds. The other
side is a program writing through the mount of the same library: new
files and folders, appends, overwrites, renames, moves, a file renamed
over another, removals and tags. Errors that another process's change
explains and a retry would get past (the entry moved or went, a name was
taken) are counted; any other error, a crash or a call that hangs fails
the soak.

Afterwards, once the mount has settled: the mount's tree equals the
library as a fresh process lists it (names, folders, sizes), and the
checks of library_checks.py hold (rows and files on disk, the folder
tree, SQLite's integrity_check).

Usage: soak.py path/to/quillet-fp [--seconds N] [--seed S]
Exits 0 when all held, 1 with what failed, 77 where FUSE cannot be used.
"""
import argparse
import os
import random
import shutil
import signal
import subprocess
import sys
import tempfile
import threading
import time
import traceback

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), '..', 'crash'))

from host_side import COMMAND_SECONDS, HostSide  # noqa: E402
from library_checks import ScratchLibrary  # noqa: E402
from mount_side import MountSide  # noqa: E402
from mount_tree import differences, packages  # noqa: E402
from outcomes import Outcomes  # noqa: E402

MOUNT_SECONDS = 20
OPERATION_SECONDS = 30
SETTLE_SECONDS = 20


def fuse_usable():
    try:
        os.close(os.open('/dev/fuse', os.O_RDWR))
    except OSError as error:
        return f'/dev/fuse cannot be opened here: {error.strerror}'
    return None if shutil.which('fusermount3') else 'fusermount3 is not installed'


class Mount:
    """`quillet-fp mount` in the foreground, unmounted however the soak ends."""

    def __init__(self, library, scratch):
        self.point = os.path.join(scratch, 'mnt')
        self.log = os.path.join(scratch, 'mount')
        os.makedirs(self.point)
        self.process = library.start('mount', self.point, '--foreground',
                                     stdout=open(self.log + '.out', 'w'), stderr=open(self.log + '.err', 'w'))

    def __enter__(self):
        deadline = time.monotonic() + MOUNT_SECONDS
        while not ('"mounted"' in open(self.log + '.out').read() and os.path.ismount(self.point)):
            if time.monotonic() > deadline or self.process.poll() is not None:
                self.__exit__()
                raise RuntimeError(f'the mount did not come up: {self.errors()}')
            time.sleep(0.1)
        return self

    def __exit__(self, *_):
        self.keep_log()
        if os.path.ismount(self.point):
            if subprocess.run(['fusermount3', '-u', self.point], capture_output=True).returncode != 0:
                subprocess.run(['fusermount3', '-uz', self.point], capture_output=True)
        try:
            self.process.wait(timeout=MOUNT_SECONDS)
        except subprocess.TimeoutExpired:
            self.process.kill()
            self.process.wait()

    def keep_log(self):
        """A copy of the extension's log: its standard error, a file that
        later processes' log rotation may already have removed."""
        try:
            shutil.copyfile(f'/proc/{self.process.pid}/fd/2', self.log + '.log')
        except OSError:
            pass

    def errors(self):
        """The mount's last words and the failures its log reports."""
        lines = open(self.log + '.err').readlines()[-20:]
        if os.path.exists(self.log + '.log'):
            lines += [line for line in open(self.log + '.log', errors='replace') if 'failed' in line][-20:]
        return ''.join(lines)


def soak(fp, scratch, seconds, rng):
    library = ScratchLibrary(fp, scratch, log=os.path.join(scratch, "host.log"))
    outcomes = Outcomes()
    code, _, err = library.run('seed', '--folders', '6', '--items', '30', '--depth', '2', '--file-size', '300')
    if code != 0:
        outcomes.failed('setup', 'seed', err.strip())
        return outcomes, []
    with Mount(library, scratch) as mount:
        host = HostSide(library, mount.point, scratch, rng, outcomes)
        writer = MountSide(mount.point, random.Random(rng.random()), outcomes)
        stopped = threading.Event()
        deadline = time.monotonic() + seconds
        sides = [threading.Thread(target=run_side, args=(name, side, deadline, stopped, outcomes), daemon=True)
                 for name, side in (('host', host), ('mount', writer))]
        for side in sides:
            side.start()
        broken = False
        while any(side.is_alive() for side in sides) and not broken:
            time.sleep(0.5)
            under_way = writer.under_way()
            if under_way and time.monotonic() - under_way[1] > OPERATION_SECONDS:
                outcomes.failed('mount', under_way[0], f'no answer after {OPERATION_SECONDS} s')
                broken = True
            if mount.process.poll() is not None:
                outcomes.failed('mount', 'process', f'exited with {mount.process.returncode}')
                broken = True
        stopped.set()
        sides[0].join(COMMAND_SECONDS * 2)
        violations = []
        if not broken:
            print(f'soak: the mount showed each host change within {host.slowest_showing:.1f} s')
            violations = settled_checks(library, mount)
    if mount.process.returncode != 0:
        violations.append(f'the mount exited with {mount.process.returncode}')
    if outcomes.failures or violations:
        print(f'the mount\'s log:\n{mount.errors()}', file=sys.stderr)
    return outcomes, violations


def run_side(name, side, deadline, stopped, outcomes):
    try:
        side.run_until(deadline, stopped)
    except Exception:  # noqa: BLE001 - whatever broke the loop fails the soak
        outcomes.failed(name, 'loop', traceback.format_exc())


def settled_checks(library, mount):
    """What is wrong once the mount has had time to settle."""
    deadline = time.monotonic() + SETTLE_SECONDS
    while True:
        items, error = library.listing()
        if items is None:
            return [f'the library does not load: {error}']
        shown_otherwise = differences(mount.point, items, packages(library, items))
        if not shown_otherwise or time.monotonic() > deadline:
            break
        time.sleep(0.5)
    violations = [f'the mount shows otherwise: {line}' for line in shown_otherwise[:20]]
    violations += library.disk_violations(items)
    integrity = library.integrity()
    if integrity != 'ok':
        violations.append(f'integrity_check: {integrity}')
    return violations


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument('fp')
    parser.add_argument('--seconds', type=float, default=60)
    parser.add_argument('--seed', type=int, default=int(time.time()))
    arguments = parser.parse_args()
    reason = fuse_usable()
    if reason:
        print(f'SKIP: {reason}')
        return 77
    # Stopped from outside, the soak still unmounts and cleans up.
    signal.signal(signal.SIGTERM, lambda *_: sys.exit(143))
    scratch = tempfile.mkdtemp(prefix='qlt-soak-')
    started = time.monotonic()
    try:
        outcomes, violations = soak(os.path.abspath(arguments.fp), scratch, arguments.seconds,
                                    random.Random(arguments.seed))
        print(outcomes.summary(time.monotonic() - started) + f'\n  seed {arguments.seed}')
        for failure in outcomes.failures + violations:
            print(f'FAIL: {failure}', file=sys.stderr)

        return 1 if outcomes.failures or violations else 0
    finally:
        if os.environ.get('QLT_SOAK_KEEP'):
            print(f'kept {scratch}')
        else:
            shutil.rmtree(scratch, ignore_errors=True)


if __name__ == '__main__':
    sys.exit(main())

#!/usr/bin/env python3
"""Kills request processes at random points and checks that nothing is lost.

Each round runs one random request of the service (create, folder, rename,
move, new contents, tags, trash, untrash, delete) through `quillet-fp` in a
child process, and kills most of them with SIGKILL after a random delay
that spans a request's life: while the library loads, inside a save, while
a file is copied, during a directory move, during the upload to the cloud
store (the library syncs with an embedded cloud store, so every request
uploads its changes). Where FUSE can be used, one round in three makes its
change through the mount instead and kills the mount (mount_rounds.py).
Then a fresh process loads the library and the checks run:

  - every request acknowledged before a kill is there (names, places,
    bytes); a request that was killed is there wholly or not at all;
  - the checks of library_checks.py: every item and folder row has its
    file or directory where its folder's directory says, no file in the
    folder directories lacks a row, the folder tree of the database equals
    the directories on disk, and the database passes SQLite's
    integrity_check;
  - change sets name only records that exist or were deleted.

Usage: crash_harness.py path/to/quillet-fp [--kills N] [--seed S]
Exits 1 with the violations found, 0 when there were none.
"""
import argparse
import json
import os
import random
import plistlib
import shutil
import signal
import sqlite3
import sys
import tempfile
import time

from kill_points import still_running_after_random_delay
from library_checks import ROOT, TRASH, ScratchLibrary, file_digest, is_below
from mount_rounds import MountRounds


class Harness:
    def __init__(self, fp, scratch, rng):
        self.library = ScratchLibrary(fp, scratch)
        preferences = os.path.join(self.library.env['XDG_CONFIG_HOME'], 'quillet', 'preferences')
        os.makedirs(preferences, exist_ok=True)
        with open(os.path.join(preferences, 'group.com.quillet.plist'), 'wb') as out:
            plistlib.dump({'QLTCloudStoreDirectory': os.path.join(scratch, 'cloud')}, out)
        self.scratch = scratch
        self.rng = rng
        # What acknowledged requests left: identifier -> fields. Contents
        # are known by their digest; None where they are not known.
        self.expected = {}
        self.violations = []
        self.counter = 0
        self.durations = []
        # Every object identifier a listing or an answer ever showed.
        self.seen = set()

    def listing(self):
        items, error = self.library.listing()
        if items is None:
            self.violations.append(f'the library does not load after a kill: {error}')
        else:
            self.seen.update(items)
        return items

    # Requests.
    def contents(self):
        self.counter += 1
        path = os.path.join(self.scratch, f'contents-{self.counter}')
        size = self.rng.choice([0, 17, 4096, 200000, 3000000])
        with open(path, 'wb') as out:
            out.write(os.urandom(size))
        return path

    def pick(self, kind=None, live=True):
        choices = [i for i, f in self.expected.items()
                   if (kind is None or f['kind'] == kind) and (not live or f['parent'] != TRASH)]
        return self.rng.choice(choices) if choices else None

    def folders(self, excluding=None):
        folders = [ROOT] + [i for i, f in self.expected.items() if f['kind'] == 'folder' and f['parent'] != TRASH]
        if excluding:
            folders = [f for f in folders if not self.below(f, excluding)]
        return folders

    def below(self, identifier, ancestor):
        return is_below(identifier, ancestor, lambda i: self.expected.get(i, {}).get('parent'))

    def request(self):
        """A random request: (arguments, what it changes, how to record it)."""
        self.counter += 1
        name = f'n{self.counter} {self.rng.choice(["a", "ü", "space x", "long" * 10])}'
        op = self.rng.choice(['create', 'create', 'folder', 'rename', 'move', 'contents', 'tags', 'trash',
                              'untrash', 'delete'])
        if op == 'create':
            source = self.contents()
            parent = self.rng.choice(self.folders())
            return op, ['create', parent, '--name', name + '.bin', '--from', source], None, \
                {'kind': 'item', 'parent': parent, 'sha': file_digest(source)}
        if op == 'folder':
            parent = self.rng.choice(self.folders())
            return op, ['create', parent, '--name', name, '--folder'], None, {'kind': 'folder', 'parent': parent}
        target = self.pick(live=op != 'untrash')
        if op == 'untrash':
            target = self.rng.choice([i for i, f in self.expected.items() if f['parent'] == TRASH] or [None])
        if target is None:
            return None
        kind = self.expected[target]['kind']
        if op == 'rename':
            new = name + ('.bin' if kind == 'item' else '')
            return op, ['modify', target, '--name', new], target, {}
        if op == 'move':
            parent = self.rng.choice(self.folders(excluding=target if kind == 'folder' else None))
            return op, ['modify', target, '--parent', parent], target, {'parent': parent}
        if op == 'contents' and kind == 'item':
            source = self.contents()
            return op, ['modify', target, '--contents', source], target, {'sha': file_digest(source)}
        if op == 'tags' and kind == 'item':
            return op, ['modify', target, '--tags', 'Work,Later'], target, {}
        if op == 'trash':
            return op, ['modify', target, '--parent', 'trash'], target, {'parent': TRASH}
        if op == 'untrash':
            return op, ['modify', target, '--parent', 'root'], target, {'parent': ROOT}
        if op == 'delete':
            return op, ['delete', target, '--recursive'], target, {'deleted': True}
        return None

    def record(self, op, target, change, out):
        """Adds what an acknowledged request did to the expected state."""
        answer = json.loads(out.strip().splitlines()[-1])
        if op in ('create', 'folder'):
            made = answer['created']
            self.seen.add(made['itemIdentifier'])
            self.expected[made['itemIdentifier']] = dict(change, name=made['filename'])
            return
        if change.get('deleted'):
            for identifier in [i for i in self.expected if self.below(i, target)]:
                self.expected.pop(identifier, None)
            return
        modified = answer['modified']
        self.expected[target].update(change, name=modified['filename'], parent=modified['parentItemIdentifier'])

    # One round.
    def round(self, kill):
        made = None
        while made is None:
            made = self.request()
        op, args, target, change = made
        started = time.monotonic()
        child = self.library.start(*args)
        killed = False
        if kill and still_running_after_random_delay(child, self.rng, self.durations, 0.3):
            child.send_signal(signal.SIGKILL)
            killed = True
        out, err = child.communicate()
        if not killed:
            self.durations.append(time.monotonic() - started)
            if child.returncode == 0:
                self.record(op, target, change, out)
            elif op not in ('move', 'untrash'):
                # Refusals (a taken name, say) change nothing.
                pass
        return op, args, target, change, killed

    # Checks.
    def check(self, last):
        items = self.listing()
        if items is None:
            return
        op, args, target, change, killed = last
        # A killed request is there wholly or not at all: the state it left
        # is taken as the expected one once it is whole.
        if killed and target in self.expected:
            if target not in items:
                if change.get('deleted'):
                    for identifier in [i for i in self.expected if self.below(i, target)]:
                        self.expected.pop(identifier, None)
                else:
                    self.violations.append(f'{op} killed: {target} vanished')
            else:
                now = items[target]
                self.expected[target].update(name=now['filename'], parent=now['parentItemIdentifier'])
                if 'sha' in change:
                    self.expected[target]['sha'] = None
        if killed and op in ('create', 'folder'):
            name = args[3]
            for identifier, item in items.items():
                if identifier not in self.expected and item['filename'].startswith(name.split('.')[0]):
                    self.expected[identifier] = dict(change, name=item['filename'])
                    if op == 'create':
                        self.expected[identifier]['sha'] = None
        if killed and change.get('deleted'):
            for identifier in [i for i in self.expected if i not in items]:
                self.expected.pop(identifier, None)

        self.violations += self.library.disk_violations(
            items, lambda identifier: self.expected.get(identifier, {}).get('sha'))
        self.check_change_sets(items)
        integrity = self.library.integrity()
        if integrity != 'ok':
            self.violations.append(f'integrity_check: {integrity}')

    def check_change_sets(self, items):
        library = os.path.join(self.library.group, 'Quillet', 'Quillet Library.qltlib')
        path = os.path.join(library, 'Library Changes', 'LibraryChanges.sqlite')
        if not os.path.exists(path):
            return
        with sqlite3.connect(f'file:{path}?mode=ro', uri=True) as changes:
            named = {name for (name,) in changes.execute('SELECT recordName FROM ChangeRecord')}
            deleted = {name for (name,) in changes.execute('SELECT recordName FROM DeletedRecord')}
        for name in sorted(named - deleted):
            if name.split('|')[0] in ('Item', 'Folder') and name not in items and name not in self.seen:
                self.violations.append(f'a change set names {name}, which never existed')


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument('fp')
    parser.add_argument('--kills', type=int, default=200)
    parser.add_argument('--seed', type=int, default=int(time.time()))
    parser.add_argument('--no-mount', dest='mount', action='store_false',
                        help='make every change through requests, none through the mount')
    arguments = parser.parse_args()
    rng = random.Random(arguments.seed)
    scratch = tempfile.mkdtemp(prefix='qlt-crash-')
    try:
        harness = Harness(os.path.abspath(arguments.fp), scratch, rng)
        code, _, err = harness.library.run('status')
        if code == 0:
            code, _, err = harness.library.run('sync')
        if code != 0:
            print(f'the library cannot be made: {err}', file=sys.stderr)
            return 1
        mounted = MountRounds(harness) if arguments.mount and fuse_usable() else None
        kills = 0
        rounds = 0
        through_mount = 0
        while kills < arguments.kills:
            rounds += 1
            # One request in three runs to its end, so that the library grows.
            kill = rng.random() < 0.67
            before = len(harness.violations)
            if mounted and rng.random() < 1 / 3:
                last = mounted.round(kill)
                through_mount += 1
            else:
                last = harness.round(kill)
            kills += last[4]
            if last[4]:
                harness.check(last)
            if len(harness.violations) > before:
                print(f'after {last[0]} ({" ".join(last[1])}), killed={last[4]}:', file=sys.stderr)
                for violation in harness.violations[before:]:
                    print(f'  {violation}', file=sys.stderr)
                if os.environ.get('QLT_CRASH_STOP'):
                    break
        code, _, err = harness.library.run('sync')
        if code != 0:
            harness.violations.append(f'the library does not sync after the kills: {err.strip()}')
        print(f'crash harness: seed {arguments.seed}, {rounds} requests ({through_mount} through the mount'
              f'{"" if mounted else ", FUSE not usable"}), {kills} killed, '
              f'{len(harness.expected)} objects, {len(harness.violations)} violations')
        return 1 if harness.violations else 0
    finally:
        if os.environ.get('QLT_CRASH_KEEP'):
            print(f'kept {scratch}')
        else:
            shutil.rmtree(scratch, ignore_errors=True)


def fuse_usable():
    try:
        os.close(os.open('/dev/fuse', os.O_RDWR))
    except OSError:
        return False
    return shutil.which('fusermount3') is not None


if __name__ == '__main__':
    sys.exit(main())

"""The host application's side of the soak: `quillet-fp host` commands,
each a process of its own, that import files, make notes, replace
contents, rename, move, trash and take out of the trash items and folders
of the library, as the mount's writer changes it too. After each change
the mount must show it (or the writer's later change) within
VISIBLE_SECONDS."""
import json
import os
import subprocess
import time

from library_checks import ROOT, TRASH, is_below
from mount_tree import packages, shows

COMMAND_SECONDS = 60
VISIBLE_SECONDS = 10

# Errors of a command that ran into the writer's changes and that a retry
# with a fresh picture of the library would not meet: (domain, code) ->
# kind.
RETRYABLE = {
    ('NSFileProviderErrorDomain', -1005): 'no such item',
    ('NSFileProviderErrorDomain', -1001): 'name clash',
    ('QLTItemErrorDomain', 10001): 'name clash',
    ('QLTItemErrorDomain', 10002): 'name clash',
    ('QLTFolderErrorDomain', 10001): 'name clash',
    ('QLTFolderErrorDomain', 10002): 'name clash',
    ('QLTFolderErrorDomain', 10006): 'into itself',
    # The host's rows are older than a move the mount has just made: the
    # file or folder is not where they say.
    ('NSCocoaErrorDomain', 4): 'moved meanwhile',
    ('NSPOSIXErrorDomain', 2): 'moved meanwhile',
    ('NSCocoaErrorDomain', 516): 'name clash',
}


class HostSide:
    def __init__(self, library, mount, scratch, rng, outcomes):
        self.library = library
        self.mount = mount
        self.scratch = scratch
        self.rng = rng
        self.outcomes = outcomes
        self.items = {}
        self.counter = 0
        self.slowest_showing = 0.0

    def run_until(self, deadline, stopped):
        while time.monotonic() < deadline and not stopped.is_set():
            self.counter += 1
            if self.refresh():
                self.step()

    def refresh(self):
        try:
            items, error = self.library.listing(timeout=COMMAND_SECONDS)
        except subprocess.TimeoutExpired:
            self.outcomes.failed('host', 'list-all', f'hung for {COMMAND_SECONDS} s')
            return False
        if items is None:
            self.outcomes.failed('host', 'list-all', error)
            return False
        self.items = items
        return True

    def live(self, prefix):
        return [i for i, item in self.items.items()
                if i.startswith(prefix) and self.place(item) == ROOT]

    def place(self, item):
        """ROOT or TRASH, whichever the item is below."""
        while item and item['parentItemIdentifier'] not in (ROOT, TRASH):
            item = self.items.get(item['parentItemIdentifier'])
        return item['parentItemIdentifier'] if item else None

    def below(self, identifier, ancestor):
        return is_below(identifier, ancestor, lambda i: self.items.get(i, {}).get('parentItemIdentifier'))

    def step(self):
        name = f'h{self.counter} {self.rng.choice(["alpha", "ü", "space x", "long" * 12])}'
        folders = [ROOT] + self.live('Folder|')
        objects = self.live('Item|') + self.live('Folder|')
        trashed = [i for i, item in self.items.items() if item['parentItemIdentifier'] == TRASH]
        op = self.rng.choice(['import', 'import', 'note', 'replace', 'rename', 'rename', 'move', 'move',
                              'trash', 'untrash'])
        if op == 'import':
            self.command(op, 'import', self.contents(name), '--folder', self.rng.choice(folders))
        elif op == 'note':
            self.command(op, 'note', f'{name}\nwritten by the host', '--folder', self.rng.choice(folders))
        elif op == 'replace' and self.flat_items():
            self.command(op, 'replace', self.rng.choice(self.flat_items()), self.contents(name))
        elif op == 'rename' and objects:
            target = self.rng.choice(objects)
            suffix = os.path.splitext(self.items[target]['filename'])[1] if target.startswith('Item|') else ''
            self.command(op, 'rename', target, name + suffix)
        elif op == 'move' and objects:
            target = self.rng.choice(objects)
            into = self.rng.choice([f for f in folders if not self.below(f, target)])
            self.command(op, 'move', target, into)
        elif op == 'trash' and objects and self.rng.random() < 0.3:
            self.command(op, 'trash', self.rng.choice(objects))
        elif op == 'untrash' and trashed:
            self.command(op, 'untrash', self.rng.choice(trashed))

    def flat_items(self):
        """Items whose file is one file: a note is a package, and one file
        does not replace its folder of files."""
        return [i for i in self.live('Item|') if not self.items[i]['filename'].endswith('.qltnote')]

    def contents(self, name):
        path = os.path.join(self.scratch, f'host {name}.bin')
        with open(path, 'wb') as out:
            out.write(os.urandom(self.rng.choice([0, 17, 4096, 70000, 1500000])))
        return path

    def command(self, op, *args):
        try:
            code, out, err = self.library.run('host', *args, timeout=COMMAND_SECONDS)
        except subprocess.TimeoutExpired:
            self.outcomes.failed('host', op, f'hung for {COMMAND_SECONDS} s: host {" ".join(args)}')
            return
        if code == 0:
            self.outcomes.succeeded('host', op)
            answer = json.loads(out.strip().splitlines()[-1])
            for described in answer.values():
                self.await_showing(op, described['itemIdentifier'])
            return
        kind = retryable_kind(err) if code > 0 else None
        if kind:
            self.outcomes.retry('host', kind)
        else:
            self.outcomes.failed('host', op, f'exit {code}: host {" ".join(args)}: {err.strip()}')

    def await_showing(self, op, identifier):
        """Waits until the mount shows the object where the library has it
        now; fails the soak when it does not in time."""
        started = time.monotonic()
        while self.refresh() and identifier in self.items:
            path, shown = shows(self.mount, self.items, packages(self.library, self.items), identifier)
            waited = time.monotonic() - started
            if shown:
                self.slowest_showing = max(self.slowest_showing, waited)
                return
            if waited > VISIBLE_SECONDS:
                self.outcomes.failed('host', op, f'{identifier} is not shown at {path} after {waited:.1f} s')
                return
            time.sleep(0.1)


def retryable_kind(standard_error):
    for line in reversed(standard_error.splitlines()):
        try:
            error = json.loads(line)
        except ValueError:
            continue
        if isinstance(error, dict) and 'domain' in error:
            return RETRYABLE.get((error['domain'], error['code']))
    return None

"""Rounds that change the library through the mount and kill the mount.

Each round mounts the library, lets a child process make one change
through the mounted tree (a new file or folder, a rename, a move, new
contents, tags, a trip to the trash and back, a deletion), and kills the
mount with SIGKILL after a random delay. A change is acknowledged when the
child's system calls returned before the kill (close() included: it sends
a file's contents to the library); the child then exits 0.
"""
import json
import os
import signal
import subprocess
import sys
import time
import unicodedata

from kill_points import still_running_after_random_delay
from library_checks import ROOT, TRASH, file_digest

# The change, run in a child so that a dead mount fails its system calls
# (ENOTCONN) in that child alone.
CHANGE = r'''
import os, shutil, sys
mount, op, a, b = sys.argv[1:5]
# Paths are taken below a descriptor of the mounted root, held from the
# start: after the mount is killed and lazily unmounted, a path would
# reach the plain directory below it instead.
root = os.open(mount, os.O_RDONLY | os.O_DIRECTORY)
if os.fstat(root).st_dev == os.stat(os.path.dirname(mount)).st_dev:
    sys.exit(3)
if op in ('create', 'contents'):
    target = os.open(a, os.O_WRONLY | os.O_CREAT | os.O_TRUNC, 0o644, dir_fd=root)
    with open(b, 'rb') as source:
        while True:
            chunk = source.read(1 << 16)
            if not chunk:
                break
            os.write(target, chunk)
    os.close(target)
elif op == 'folder':
    os.mkdir(a, dir_fd=root)
elif op in ('rename', 'move', 'trash', 'untrash'):
    os.rename(a, b, src_dir_fd=root, dst_dir_fd=root)
elif op == 'tags':
    target = os.open(a, os.O_RDONLY, dir_fd=root)
    os.setxattr(target, 'user.xdg.tags', b.encode())
elif op == 'delete':
    if os.path.isdir(os.path.join(mount, a)):
        shutil.rmtree(a, dir_fd=root)
    else:
        os.unlink(a, dir_fd=root)
'''


def same(a, b):
    return unicodedata.normalize('NFC', a) == unicodedata.normalize('NFC', b)


class MountRounds:
    def __init__(self, harness):
        self.harness = harness
        self.mount_point = os.path.join(harness.scratch, 'mnt')
        os.makedirs(self.mount_point, exist_ok=True)
        self.trash_name = None
        self.durations = []

    def path(self, identifier):
        """The mounted path of a known object, by the names acknowledged."""
        parts = []
        while identifier not in (ROOT, TRASH):
            fields = self.harness.expected[identifier]
            parts.append(fields['name'])
            identifier = fields['parent']
        if identifier == TRASH:
            parts.append(self.trash_name)
        return os.path.join(*reversed(parts))

    def folder_path(self, identifier):
        return '' if identifier == ROOT else self.path(identifier)

    def mount(self):
        mounter = subprocess.Popen([self.harness.library.fp, 'mount', self.mount_point, '--foreground'],
                                   env=self.harness.library.env, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True)
        line = ' '
        while line and '"mounted"' not in line:
            line = mounter.stdout.readline()
        if not line:
            mounter.kill()
            mounter.wait()
            return None
        return mounter

    def unmount(self, mounter, kill):
        if kill:
            mounter.send_signal(signal.SIGKILL)
        else:
            mounter.send_signal(signal.SIGTERM)
        try:
            mounter.wait(timeout=30)
        except subprocess.TimeoutExpired:
            mounter.kill()
            mounter.wait()
        subprocess.run(['fusermount3', '-uz', self.mount_point], stderr=subprocess.DEVNULL)

    def request(self):
        """A random change: (op, system-call arguments, target, expected change)."""
        harness = self.harness
        rng = harness.rng
        harness.counter += 1
        name = f'm{harness.counter} {rng.choice(["a", "ü", "space x"])}'
        op = rng.choice(['create', 'create', 'folder', 'rename', 'move', 'contents', 'tags', 'trash',
                         'untrash', 'delete'])
        if op in ('create', 'folder'):
            parent = rng.choice(harness.folders())
            name += '.bin' if op == 'create' else ''
            path = os.path.join(self.folder_path(parent), name)
            if op == 'create':
                source = harness.contents()
                return op, [path, source], None, {'kind': 'item', 'parent': parent, 'name': name,
                                                  'sha': file_digest(source)}
            return op, [path, ''], None, {'kind': 'folder', 'parent': parent, 'name': name}
        target = harness.pick(live=op != 'untrash')
        if op == 'untrash':
            target = rng.choice([i for i, f in harness.expected.items() if f['parent'] == TRASH] or [None])
        if target is None:
            return None
        fields = harness.expected[target]
        kind = fields['kind']
        here = self.path(target)
        if op == 'rename':
            new = name + ('.bin' if kind == 'item' else '')
            return op, [here, os.path.join(os.path.dirname(here), new)], target, {'name': new}
        if op == 'move':
            parent = rng.choice(harness.folders(excluding=target if kind == 'folder' else None))
            if parent == fields['parent']:
                return None
            return op, [here, os.path.join(self.folder_path(parent), fields['name'])], target, {'parent': parent}
        if op == 'contents' and kind == 'item':
            source = harness.contents()
            return op, [here, source], target, {'sha': file_digest(source)}
        if op == 'tags' and kind == 'item':
            return op, [here, 'Work,Later'], target, {}
        if op == 'trash':
            return op, [here, os.path.join(self.trash_name, fields['name'])], target, \
                {'parent': TRASH}
        if op == 'untrash':
            return op, [here, fields['name']], target, {'parent': ROOT}
        if op == 'delete':
            return op, [here, ''], target, {'deleted': True}
        return None

    def record(self, op, target, change, items):
        """Adds an acknowledged change to the expected state, checking that
        the library shows it as asked."""
        harness = self.harness
        if op in ('create', 'folder'):
            made = [i for i, item in items.items()
                    if item['parentItemIdentifier'] == change['parent'] and same(item['filename'], change['name'])]
            if not made:
                harness.violations.append(f'acknowledged {op} of {change["name"]} through the mount is not there: '
                                      f'{sorted((i["parentItemIdentifier"], i["filename"]) for i in items.values())}')
                return
            harness.seen.add(made[0])
            harness.expected[made[0]] = dict(change, name=items[made[0]]['filename'])
            return
        if change.get('deleted'):
            for identifier in [i for i in harness.expected if harness.below(i, target)]:
                harness.expected.pop(identifier, None)
            return
        now = items.get(target)
        if now is None:
            harness.violations.append(f'{op} of {target} through the mount: the item is gone')
            return
        wanted = dict(harness.expected[target], **change)
        if not same(now['filename'], wanted['name']) or now['parentItemIdentifier'] != wanted['parent']:
            harness.violations.append(f'{op} of {target} through the mount: {now["filename"]} in '
                                      f'{now["parentItemIdentifier"]}, asked {wanted["name"]} in {wanted["parent"]}')
        harness.expected[target].update(change, name=now['filename'], parent=now['parentItemIdentifier'])

    def round(self, kill):
        """One change through a fresh mount; returns what the checks need,
        as Harness.round does."""
        harness = self.harness
        if self.trash_name is None:
            code, out, _ = harness.library.run('item', 'trash')
            self.trash_name = json.loads(out.strip().splitlines()[-1])['filename'] if code == 0 else 'Deleted Items'
        made = None
        while made is None:
            made = self.request()
        op, paths, target, change = made
        mounter = self.mount()
        if mounter is None:
            harness.violations.append('the library cannot be mounted')
            return op, paths, target, change, False
        child = subprocess.Popen([sys.executable, '-c', CHANGE, self.mount_point, op, *paths],
                                 stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, text=True)
        started = time.monotonic()
        killed = kill and still_running_after_random_delay(child, harness.rng, self.durations, 0.2)
        if not killed:
            child.wait(timeout=120)
            self.durations.append(time.monotonic() - started)
        self.unmount(mounter, kill=killed)
        _, err = child.communicate(timeout=60)
        acknowledged = child.returncode == 0
        if acknowledged:
            items = harness.listing()
            if items is not None:
                self.record(op, target, change, items)
        elif not killed:
            harness.violations.append(f'{op} through the mount failed: {err.strip().splitlines()[-1:]}')
        # A change cut short is there wholly or not at all, as for requests.
        requested = ['create', change.get('parent'), '--name', change.get('name', '')]
        return op, requested, target, change, killed and not acknowledged

"""The mount's side of the soak: a program writing through the mount with
ordinary system calls (new files and folders, appends, overwrites,
renames, moves, a file renamed over another, removals, tags) while the
host application changes the same library."""
import errno
import os
import threading
import time

TRASH_NAME = 'Deleted Items'
TAGS_ATTRIBUTE = 'user.xdg.tags'
# Items the mount shows as directories of read-only entries (notes, rich
# text with attachments): moved, renamed and removed whole, never entered.
PACKAGE_SUFFIXES = ('.qltnote', '.rtfd')
# Walks the mount afresh after this many operations.
OPERATIONS_PER_WALK = 8

# What another process's change can make a call meet, and a retry with a
# fresh look at the tree would not: the entry moved or went, a name was
# taken, a folder moved below the one moved into it, something came into a
# folder being removed. ESTALE is the kernel's: a folder the host moved is
# found at its new place while the kernel still has it at the old one, and
# is known at one place again once the mount has followed the move.
RETRYABLE = {errno.ENOENT: 'ENOENT', errno.EEXIST: 'EEXIST', errno.ENOTEMPTY: 'ENOTEMPTY',
             errno.EBUSY: 'EBUSY', errno.ENOTDIR: 'ENOTDIR', errno.EISDIR: 'EISDIR',
             errno.EINVAL: 'EINVAL', errno.ESTALE: 'ESTALE'}


class MountSide:
    def __init__(self, mount, rng, outcomes):
        self.mount = mount
        self.rng = rng
        self.outcomes = outcomes
        self.files = []
        self.packages = []
        self.folders = [mount]
        self.counter = 0
        # (operation, when it started) while a call is under way: the
        # soak's watchdog calls a call that does not return a hang.
        self.current = None
        self._lock = threading.Lock()

    def under_way(self):
        with self._lock:
            return self.current

    def run_until(self, deadline, stopped):
        while time.monotonic() < deadline and not stopped.is_set():
            if self.counter % OPERATIONS_PER_WALK == 0:
                self.attempt('walk', self.walk)
            self.counter += 1
            self.step()

    def attempt(self, op, call, *args):
        with self._lock:
            self.current = (op, time.monotonic())
        try:
            call(*args)
            self.outcomes.succeeded('mount', op)
        except OSError as error:
            if error.errno in RETRYABLE:
                self.outcomes.retry('mount', RETRYABLE[error.errno])
            else:
                self.outcomes.failed('mount', op, str(error))
        finally:
            with self._lock:
                self.current = None

    def walk(self):
        files, packages, folders = [], [], [self.mount]
        for directory, dirs, names in os.walk(self.mount, onerror=raise_it):
            if directory == self.mount and TRASH_NAME in dirs:
                dirs.remove(TRASH_NAME)
            packages += [os.path.join(directory, d) for d in dirs if d.endswith(PACKAGE_SUFFIXES)]
            dirs[:] = [d for d in dirs if not d.endswith(PACKAGE_SUFFIXES)]
            folders += [os.path.join(directory, d) for d in dirs]
            files += [os.path.join(directory, n) for n in names]
        self.files, self.packages, self.folders = files, packages, folders

    def step(self):
        name = f'w{self.counter} {self.rng.choice(["beta", "é", "two words", "wide" * 12])}'
        folder = self.rng.choice(self.folders)
        others = self.folders[1:]
        entries = self.files + self.packages + others
        op = self.rng.choice(['create', 'create', 'mkdir', 'append', 'overwrite', 'read', 'rename', 'move',
                              'move', 'replace', 'remove', 'rmtree', 'tags'])
        if op == 'create':
            self.attempt(op, self.write, os.path.join(folder, name + '.txt'), 'wb')
        elif op == 'mkdir':
            self.attempt(op, os.mkdir, os.path.join(folder, name))
        elif op == 'remove' and self.files:
            self.attempt(op, os.unlink, self.rng.choice(self.files))
        elif op == 'remove' and self.packages:
            self.attempt(op, os.rmdir, self.rng.choice(self.packages))
        elif op in ('append', 'overwrite', 'read', 'tags') and self.files:
            path = self.rng.choice(self.files)
            if op == 'read':
                self.attempt(op, read, path)
            else:
                self.attempt(op, self.change, op, path)
        elif op == 'rename' and entries:
            path = self.rng.choice(entries)
            suffix = '' if path in others else os.path.splitext(path)[1]
            self.attempt(op, os.rename, path, os.path.join(os.path.dirname(path), name + suffix))
        elif op == 'move' and entries:
            path = self.rng.choice(entries)
            into = [f for f in self.folders if f != path and not f.startswith(path + '/')]
            self.attempt(op, os.rename, path, os.path.join(self.rng.choice(into), os.path.basename(path)))
        elif op == 'replace' and len(self.files) > 1:
            source, target = self.rng.sample(self.files, 2)
            self.attempt(op, os.rename, source, target)
        elif op == 'rmtree' and others and self.rng.random() < 0.3:
            self.attempt(op, self.remove_tree, self.rng.choice(others))

    def write(self, path, mode):
        with open(path, mode) as out:
            out.write(os.urandom(self.rng.choice([0, 9, 4096, 100000])))

    def change(self, op, path):
        if op == 'append':
            self.write(path, 'ab')
        elif op == 'overwrite':
            self.write(path, 'wb')
        else:
            os.setxattr(path, TAGS_ATTRIBUTE, self.rng.choice([b'Work', b'Work,Later', b'']))

    def remove_tree(self, folder):
        """As `rm -r` does; a package goes whole, with rmdir."""
        for entry in list(os.scandir(folder)):
            if not entry.is_dir(follow_symlinks=False):
                os.unlink(entry.path)
            elif entry.name.endswith(PACKAGE_SUFFIXES):
                os.rmdir(entry.path)
            else:
                self.remove_tree(entry.path)
        os.rmdir(folder)


def read(path):
    with open(path, 'rb') as data:
        while data.read(1 << 16):
            pass


def raise_it(error):
    raise error

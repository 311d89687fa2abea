"""A scratch library for quillet-fp and the checks that it is whole.

Shared by the crash harness and the soak: both run quillet-fp against a
private group container and then check what it left on disk:

  - every item and folder row has its file or directory where its folder's
    directory says, and no file in the folder directories lacks a row;
  - the folder tree of the database equals the directories on disk;
  - the database passes SQLite's integrity_check.
"""
import hashlib
import json
import os
import subprocess

ROOT = 'NSFileProviderRootContainerItemIdentifier'
TRASH = 'NSFileProviderTrashContainerItemIdentifier'


def is_below(identifier, ancestor, parent_of):
    """Whether `ancestor` is `identifier` or one of its folders, going up
    by `parent_of` (None for an unknown object) to the root or the trash."""
    while identifier not in (ROOT, TRASH, None):
        if identifier == ancestor:
            return True
        identifier = parent_of(identifier)
    return False

class ScratchLibrary:
    """quillet-fp pointed at a group container, preferences, data, caches
    and runtime folder below `scratch`."""

    def __init__(self, fp, scratch, log=None):
        self.fp = fp
        self.log = log  # where each command's standard error is appended, if anywhere
        self.group = os.path.join(scratch, 'group')
        self.files = os.path.join(self.group, 'Quillet', 'Files')
        self.trash = os.path.join(self.group, 'Quillet', 'Deleted Files')
        self.env = dict(os.environ, QLT_GROUP_CONTAINER=self.group,
                        XDG_CONFIG_HOME=os.path.join(scratch, 'config'),
                        XDG_DATA_HOME=os.path.join(scratch, 'data'),
                        XDG_CACHE_HOME=os.path.join(scratch, 'cache'),
                        XDG_RUNTIME_DIR=os.path.join(scratch, 'runtime'))
        self.env.pop('QLT_CLOUD_URL', None)
        for key in ('XDG_CONFIG_HOME', 'XDG_DATA_HOME', 'XDG_CACHE_HOME', 'XDG_RUNTIME_DIR'):
            os.makedirs(self.env[key], mode=0o700, exist_ok=True)
        os.makedirs(self.group, exist_ok=True)

    def run(self, *args, timeout=120):
        """(exit status, standard output, standard error); raises
        subprocess.TimeoutExpired when the command outlives `timeout`."""
        done = subprocess.run([self.fp, *args], env=self.env, capture_output=True, text=True, timeout=timeout)
        if self.log:
            with open(self.log, 'a') as log:
                log.write(f'$ {" ".join(args)}\n{done.stderr}{self.newest_extension_log()}')
        return done.returncode, done.stdout, done.stderr

    def newest_extension_log(self):
        """The extension's newest log file (a command's own, once it ends): the
        folder keeps only ten."""
        folder = os.path.join(self.group, 'Library', 'File Provider', 'Logs')
        try:
            names = [os.path.join(folder, name) for name in os.listdir(folder) if name.startswith('File Provider_')]
        except FileNotFoundError:
            return ''
        if not names:
            return ''
        with open(max(names, key=os.path.getmtime), errors='replace') as newest:
            return newest.read()

    def start(self, *args, **streams):
        streams.setdefault('stdout', subprocess.PIPE)
        streams.setdefault('stderr', subprocess.PIPE)
        return subprocess.Popen([self.fp, *args], env=self.env, text=True, **streams)

    def listing(self, timeout=120):
        """The working set by identifier, or (None, the error) when the
        library does not load."""
        code, out, err = self.run('list-all', 'working-set', '--page-size', '1000', timeout=timeout)
        if code != 0:
            return None, err.strip()
        items = {}
        for line in out.splitlines():
            if line.strip():
                for item in json.loads(line).get('items', []):
                    items[item['itemIdentifier']] = item
        return items, None

    def integrity(self):
        """SQLite's integrity_check as `quillet-fp status` runs it: 'ok', or
        what went wrong. The database's own functions (folded names in an
        index) are needed to check it, so sqlite3 alone cannot."""
        code, out, err = self.run('status')
        return json.loads(out.strip().splitlines()[-1]).get('integrity') if code == 0 else err.strip()

    def row_paths(self, items):
        """Where each item and folder row says its file is: path -> identifier
        (None for a row below no folder)."""
        def path(item):
            parts = [item['filename']]
            while item['parentItemIdentifier'] not in (ROOT, TRASH):
                item = items.get(item['parentItemIdentifier'])
                if item is None:
                    return None
                parts.append(item['filename'])
            base = self.files if item['parentItemIdentifier'] == ROOT else self.trash
            return os.path.join(base, *reversed(parts))

        return {path(item): identifier for identifier, item in items.items()
                if identifier.split('|')[0] in ('Item', 'Folder')}

    def disk_violations(self, items, digest_of=lambda identifier: None):
        """What is wrong between the rows and the files on disk; `digest_of`
        gives the SHA-256 an item's file must have, where known."""
        violations = []
        rows = self.row_paths(items)
        packages = [row + '/' for row, identifier in rows.items() if row and identifier.startswith('Item|')]
        on_disk = set()
        for base in (self.files, self.trash):
            for directory, dirs, names in os.walk(base):
                if directory != base and rows.get(directory, '').startswith('Item|'):
                    dirs[:] = []
                    continue
                for name in dirs + names:
                    on_disk.add(os.path.join(directory, name))
        on_disk = {p for p in on_disk if not any(p.startswith(package) for package in packages)}
        for missing in sorted(set(rows) - on_disk - {None}):
            violations.append(f'row without its file: {missing}')
        for extra in sorted(on_disk - set(rows)):
            violations.append(f'file without a row: {extra}')
        for row, identifier in rows.items():
            if row is None:
                violations.append(f'{identifier} lies below no folder')
                continue
            if identifier.startswith('Folder|') and not os.path.isdir(row):
                violations.append(f'folder {identifier} has no directory at {row}')
            digest = digest_of(identifier)
            if digest and os.path.isfile(row) and file_digest(row) != digest:
                violations.append(f'{row} holds other bytes than acknowledged')
        return violations


def file_digest(path):
    with open(path, 'rb') as data:
        return hashlib.sha256(data.read()).hexdigest()

"""The mount's tree against the library's rows: what each shows, by path."""
import base64
import errno
import os
import stat

from library_checks import ROOT, TRASH

MOUNT_NAME_ATTRIBUTE = 'com.quillet.mount-name'


def shown_name(item):
    """The name the mount shows: the one a program chose, where the library
    stores it otherwise."""
    chosen = item.get('extendedAttributes', {}).get(MOUNT_NAME_ATTRIBUTE)
    return base64.b64decode(chosen).decode() if chosen else item['filename']


def path_of(items, identifier):
    """Where the mount shows a row, below the mount point; None for a row
    below no folder."""
    item = items[identifier]
    parts = [shown_name(item)]
    while item['parentItemIdentifier'] not in (ROOT, TRASH):
        item = items.get(item['parentItemIdentifier'])
        if item is None:
            return None
        parts.append(shown_name(item))
    if item['parentItemIdentifier'] == TRASH:
        parts.append(items.get(TRASH, {}).get('filename', 'Deleted Items'))
    return '/'.join(reversed(parts))


def packages(library, items):
    """The identifiers of items whose files are directories: packages, which
    the mount shows as directories whose entries are not compared here."""
    return {identifier for path, identifier in library.row_paths(items).items()
            if path and identifier.startswith('Item|') and os.path.isdir(path)}


def shown_as(item, package_identifiers):
    """('folder' | 'package' | 'file', size): how the mount shows a row."""
    if item['itemIdentifier'].startswith('Folder|'):
        return 'folder', None
    if item['itemIdentifier'] in package_identifiers:
        return 'package', None
    return 'file', item['documentSize']


def rows_by_path(items, package_identifiers):
    """path below the mount -> shown_as() of every item and folder row."""
    rows = {path_of(items, identifier): shown_as(item, package_identifiers) for identifier, item in items.items()
            if identifier.split('|')[0] in ('Item', 'Folder')}
    rows.pop(None, None)
    return rows


def shows(mount, items, package_identifiers, identifier):
    """(path, whether the mount shows the row there as it should)."""
    path = path_of(items, identifier)
    if path is None:
        return None, False
    try:
        status = os.lstat(os.path.join(mount, path))
    except OSError as error:
        # ESTALE: the kernel still has a moved folder at its old place too.
        if error.errno in (errno.ENOENT, errno.ENOTDIR, errno.ESTALE):
            return path, False
        raise
    kind, size = shown_as(items[identifier], package_identifiers)
    if kind == 'file':
        return path, stat.S_ISREG(status.st_mode) and status.st_size == size
    return path, stat.S_ISDIR(status.st_mode)


def mount_entries(mount, packages):
    """path below the mount -> (kind, size), not entering `packages`."""
    entries = {}
    for directory, dirs, names in os.walk(mount):
        relative = os.path.relpath(directory, mount)
        prefix = '' if relative == '.' else relative + '/'
        for name in dirs:
            entries[prefix + name] = ('package', None) if prefix + name in packages else ('folder', None)
        dirs[:] = [d for d in dirs if prefix + d not in packages]
        for name in names:
            entries[prefix + name] = ('file', os.lstat(os.path.join(directory, name)).st_size)
    return entries


def differences(mount, items, package_identifiers):
    """What the mount shows otherwise than the rows: a list of lines."""
    rows = rows_by_path(items, package_identifiers)
    packages = {p for p, (kind, _) in rows.items() if kind == 'package'}
    entries = mount_entries(mount, packages)
    trash = items.get(TRASH, {}).get('filename', 'Deleted Items')
    entries.pop(trash, None)
    lines = []
    for path in sorted(set(rows) | set(entries)):
        if rows.get(path) != entries.get(path):
            lines.append(f'{path}: library {rows.get(path)}, mount {entries.get(path)}')
    return lines

"""What the operations of the soak's two sides came to."""
import collections
import threading


class Outcomes:
    """Counts operations that succeeded and errors a retry would fix, by
    side and kind, and keeps every other error as a failure. Both loops
    record here from their own threads."""

    def __init__(self):
        self._lock = threading.Lock()
        self.done = collections.Counter()
        self.retryable = collections.Counter()
        self.failures = []

    def succeeded(self, side, operation):
        with self._lock:
            self.done[side, operation] += 1

    def retry(self, side, kind):
        with self._lock:
            self.retryable[side, kind] += 1

    def failed(self, side, operation, detail):
        with self._lock:
            self.failures.append(f'{side} {operation}: {detail}')

    def summary(self, seconds):
        lines = [f'soak: {seconds:.0f} s, {len(self.failures)} failed operations']
        for side in ('host', 'mount'):
            done = {op: n for (s, op), n in sorted(self.done.items()) if s == side}
            retried = {kind: n for (s, kind), n in sorted(self.retryable.items()) if s == side}
            lines.append(f'  {side}: {sum(done.values())} operations '
                         + ', '.join(f'{op} {n}' for op, n in done.items()))
            lines.append(f'  {side}: {sum(retried.values())} retryable errors '
                         + ', '.join(f'{kind} {n}' for kind, n in retried.items()))
        return '\n'.join(lines)

"""Where a kill lands: a random moment within a child's usual run."""
import subprocess


def still_running_after_random_delay(child, rng, durations, first_guess):
    """Waits up to a random delay spanning the median of `durations` (the
    runs seen so far; `first_guess` before any) and tells whether `child`
    is still running then, so that the caller can kill it there."""
    median = sorted(durations)[len(durations) // 2] if durations else first_guess
    try:
        child.wait(timeout=rng.uniform(0, median * 1.3))
    except subprocess.TimeoutExpired:
        return True
    return False

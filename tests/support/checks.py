"""The Python tests' "ok - / not ok -" lines and their tally, and the
simulator they start.
    checks = Checks("trace"); checks("name", ok, detail); sys.exit(checks.end())"""


class Checks:
    def __init__(self, area):
        self.area, self.failures = area, 0

    def __call__(self, ok, name, detail=""):
        self.failures += not ok
        print(("ok" if ok else "not ok") + f" - {self.area}: " + name + (f": {detail}" if detail else ""))

    def end(self):
        """The last line, and the exit status."""
        print(f"{self.failures} failed" if self.failures else "all passed")
        return 1 if self.failures else 0


def simulator(devsim, link, *args):
    """The device simulator at `link` (its earlier link removed), once the
    link is there: the process."""
    import os
    import subprocess
    import time
    if os.path.lexists(link):
        os.remove(link)
    proc = subprocess.Popen([devsim, "--link", link, *args], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    for _ in range(50):
        if os.path.islink(link):
            break
        time.sleep(0.1)
    return proc

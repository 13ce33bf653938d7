"""The Python tests' "ok - / not ok -" lines and their tally.
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

"""The fault list the check scripts share: the first faults are printed as
they are found, and the verdict decides the exit code."""


class Faults:
    def __init__(self, shown=50):
        self.count = 0
        self.shown = shown

    def __call__(self, text):
        if self.count < self.shown:
            print(text)
        self.count += 1

    def verdict(self, summary):
        """Exit code 1 after the number of faults, or 0 after summary."""
        if self.count:
            print(f"{self.count} faults")
            return 1
        print(summary)
        return 0

#!/usr/bin/env python3
"""Runs the end-to-end tests; exits non-zero if any fails.

  python3 tests/e2e/run_e2e.py                      # everything
  python3 tests/e2e/run_e2e.py CountdownTest        # one class (or Class.test)

Same as: python3 -m unittest discover -s tests/e2e -v
"""

import sys
import unittest
from pathlib import Path

HERE = Path(__file__).resolve().parent


def main(argv):
    sys.path.insert(0, str(HERE))
    loader = unittest.TestLoader()
    if argv:
        suite = unittest.TestSuite(loader.loadTestsFromName(f"test_main.{name}") for name in argv)
    else:
        suite = loader.discover(start_dir=str(HERE), top_level_dir=str(HERE))
    result = unittest.TextTestRunner(verbosity=2).run(suite)
    failed = len(result.failures) + len(result.errors) + len(result.unexpectedSuccesses)
    skipped = len(result.skipped)
    passed = result.testsRun - failed - skipped
    print(f"e2e: {passed} passed, {failed} failed" + (f", {skipped} skipped" if skipped else ""))
    return 0 if result.wasSuccessful() and result.testsRun > 0 else 1


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))

#!/usr/bin/env python3
"""Plays one shipped scenario on the real plug-in through the bench program
(under Wine) and checks what it left: the exit code, the plug-in's log against
the scenario's own expectations, summary.csv and the after pictures.

A scenario states what its log must show in comments:
    # expect: TEXT       at least one log line contains TEXT
    # expect N: TEXT     exactly N log lines contain TEXT

usage: scenario_play_test.py SCENARIO BIN_DIR
"""
import csv
import io
import os
import re
import subprocess
import sys
import tempfile

REPO = os.path.abspath(os.path.join(os.path.dirname(__file__), "..", ".."))
VIEWS = ["top", "right", "threequarter", "threequarter_rear"]


def expectations(text):
    found = []
    for line in text.splitlines():
        match = re.match(r"#\s*expect(?:\s+(\d+))?:\s?(.*)$", line)
        if match:
            count = int(match.group(1)) if match.group(1) else None
            found.append((count, match.group(2).rstrip()))
    return found


def winpath(path):
    return subprocess.run(["winepath", "-w", path], check=True, capture_output=True,
                          text=True).stdout.strip()


def main():
    scenario, bin_dir = sys.argv[1], sys.argv[2]
    with open(scenario, encoding="utf-8") as file:
        expected = expectations(file.read())
    failures = []
    if not expected:
        failures.append("the scenario states no expected log line")
    with tempfile.TemporaryDirectory() as out:
        run = subprocess.run(
            [os.path.join(REPO, "scripts", "wine-run"), "bench.exe", winpath(scenario),
             "--out", winpath(out)], cwd=bin_dir, capture_output=True, text=True)
        if run.returncode != 0:
            print(run.stdout)
            print(run.stderr, file=sys.stderr)
            failures.append("bench exited with %d" % run.returncode)
        log_path = os.path.join(out, "FendrixVC.log")
        log = []
        if os.path.exists(log_path):
            with open(log_path, encoding="latin-1") as file:
                log = file.read().splitlines()
        else:
            failures.append("no FendrixVC.log")
        for count, text in expected:
            seen = sum(1 for line in log if text in line)
            if count is None and seen == 0:
                failures.append("no log line contains %r" % text)
            elif count is not None and seen != count:
                failures.append("%d log lines contain %r, expected %d" % (seen, text, count))
        cars = []
        summary = os.path.join(out, "summary.csv")
        if os.path.exists(summary):
            with open(summary, encoding="utf-8") as file:
                cars_table = file.read().split("\n\n")[0]
            cars = [row["car"] for row in csv.DictReader(io.StringIO(cars_table))]
            if not cars:
                failures.append("summary.csv lists no car")
        else:
            failures.append("no summary.csv")
        # A row names its car's files (numbered when a name came back after
        # a new game or a destroy), so every row has its own.
        for car in cars:
            wanted = ["%s_before.obj" % car, "%s_after.obj" % car]
            wanted += ["%s_after_%s.png" % (car, view) for view in VIEWS]
            for name in wanted:
                if not os.path.exists(os.path.join(out, name)):
                    failures.append("no file %s" % name)
        if len(set(cars)) != len(cars):
            failures.append("summary.csv names a car twice: %s" % ", ".join(cars))
        if failures:
            print("\n".join(log))
    for failure in failures:
        print("FAIL " + failure)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())

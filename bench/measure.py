#!/usr/bin/env python3
"""Runs one command and records its wall time, CPU time and peak memory;
summarises a log of such records as Markdown tables.

  measure.py run LOG LABEL ROUND [--pty] [--out FILE] [--cwd DIR] -- COMMAND...
  measure.py report LOG TITLE RATIO...

run: wall time from just before the fork to the reaped exit; user and
system time from wait4(); peak resident memory from GNU time's %M (the
command runs under /usr/bin/time, whose own share of the CPU time is a
millisecond or so: a fork of this script would count the script's memory
as the command's, since the kernel carries the peak across exec). Without --pty the command runs in a session of
its own with no terminal, so the programs' key waits end at once. With
--pty it runs on a new pseudo terminal that is its controlling terminal,
and every key wait (seen as the terminal leaving canonical mode) is
answered with "y"; the output is read and dropped. Appends one line to LOG:
"LABEL ROUND wall user sys peak_kib". A command that fails stops the
benchmark.

report: per label the median and range of wall and CPU (user + system)
time and the largest peak memory; then each RATIO "NAME=A/B" or
"NAME=A/B<=BOUND" computed per round (A and B from the same round) with the
median and range of those per-round ratios, for wall and for CPU time, and
whether the median wall ratio keeps within BOUND.
"""
import os
import resource
import select
import statistics
import sys
import termios
import time


def run(argv):
    log, label, round_number = argv[0], argv[1], argv[2]
    rest = argv[3:]
    use_pty, out, cwd = False, os.devnull, None
    while rest and rest[0] != "--":
        option = rest.pop(0)
        if option == "--pty":
            use_pty = True
        elif option == "--out":
            out = rest.pop(0)
        elif option == "--cwd":
            cwd = rest.pop(0)
        else:
            sys.exit(f"measure.py: unknown option {option}")
    rss_file = f"{log}.rss"
    command = ["/usr/bin/time", "-f", "%M", "-o", rss_file] + rest[1:]

    # A command line of 200,000 file names needs more room than the usual
    # 8 MiB stack gives (the kernel allows a quarter of it); the limit is
    # inherited. posix_spawn (vfork) keeps this script's own cost out of
    # the command's CPU time.
    resource.setrlimit(resource.RLIMIT_STACK, (64 << 20, 64 << 20))
    home = os.getcwd()
    if cwd:
        os.chdir(cwd)
    start = time.perf_counter_ns()
    if use_pty:
        master, slave = os.openpty()
        name = os.ttyname(slave)
        os.close(slave)
        # After setsid, opening the terminal makes it the controlling one.
        actions = [(os.POSIX_SPAWN_OPEN, fd, name, os.O_RDWR, 0) for fd in (0, 1, 2)]
        pid = os.posix_spawnp(command[0], command, os.environ, file_actions=actions,
                              setsid=True)
        answer_waits(master)
        _, status, usage = os.wait4(pid, 0)
        os.close(master)
    else:
        actions = [(os.POSIX_SPAWN_OPEN, 0, os.devnull, os.O_RDONLY, 0),
                   (os.POSIX_SPAWN_OPEN, 1, out, os.O_WRONLY | os.O_CREAT | os.O_TRUNC, 0o666),
                   (os.POSIX_SPAWN_OPEN, 2, os.devnull, os.O_WRONLY, 0)]
        pid = os.posix_spawnp(command[0], command, os.environ, file_actions=actions,
                              setsid=True)
        _, status, usage = os.wait4(pid, 0)
    os.chdir(home)
    wall = (time.perf_counter_ns() - start) / 1e9
    code = os.waitstatus_to_exitcode(status)
    if code != 0:
        sys.exit(f"measure.py: {label} exited with status {code}: {' '.join(command)}")
    with open(rss_file) as rss:
        peak = int(rss.read().split()[-1])
    with open(log, "a") as record:
        record.write(f"{label} {round_number} {wall:.6f} {usage.ru_utime:.6f} "
                     f"{usage.ru_stime:.6f} {peak}\n")


def answer_waits(master):
    """Drains the terminal's output and types "y" into every key wait."""
    typed = False  # typed into the current wait; wait for it to end
    while True:
        ready, _, _ = select.select([master], [], [], 0.0005)
        if ready:
            try:
                if not os.read(master, 65536):
                    return
            except OSError:  # EIO: the last holder of the terminal is gone
                return
            # Output after a key means that wait is over: a key wait
            # follows its question only once the output is all out.
            typed = False
            continue
        try:
            raw = not termios.tcgetattr(master)[3] & termios.ICANON
        except termios.error:
            return
        if raw and not typed:
            os.write(master, b"y")
            typed = True
        elif not raw:
            typed = False


def read_log(log):
    records = {}
    with open(log) as lines:
        for line in lines:
            label, round_number, wall, user, system, peak = line.split()
            records.setdefault(label, {})[int(round_number)] = (
                float(wall), float(user) + float(system), int(peak))
    return records


def spread(values, digits):
    return (f"{statistics.median(values):.{digits}f} "
            f"({min(values):.{digits}f}–{max(values):.{digits}f})")


def report(argv):
    log, title, ratios = argv[0], argv[1], argv[2:]
    records = read_log(log)
    rounds = max(len(by_round) for by_round in records.values())
    print(f"### {title}\n")
    print(f"Median (min–max) of {rounds} rounds; CPU = user + system.\n")
    print("| command | wall s | CPU s | peak KiB |")
    print("|---|---|---|---|")
    for label, by_round in records.items():
        values = list(by_round.values())
        print(f"| {label} | {spread([v[0] for v in values], 3)} | "
              f"{spread([v[1] for v in values], 3)} | {max(v[2] for v in values)} |")
    if not ratios:
        return
    print("\nPer-round ratios, median (min–max); a target bounds the median wall ratio:\n")
    print("| ratio | wall | CPU | target |")
    print("|---|---|---|---|")
    for ratio in ratios:
        name, pair = ratio.split("=", 1)
        pair, _, bound = pair.partition("<=")
        top, bottom = pair.split("/")
        if top not in records or bottom not in records:
            continue
        common = sorted(set(records[top]) & set(records[bottom]))
        walls = [records[top][r][0] / records[bottom][r][0] for r in common]
        cpus = [records[top][r][1] / max(records[bottom][r][1], 1e-6) for r in common]
        target = ""
        if bound:
            met = statistics.median(walls) <= float(bound)
            target = f"≤ {bound}: {'met' if met else 'NOT met'}"
        print(f"| {name} | {spread(walls, 2)} | {spread(cpus, 2)} | {target} |")
    print()

if __name__ == "__main__":
    if len(sys.argv) < 2 or sys.argv[1] not in ("run", "report"):
        sys.exit(__doc__)
    (run if sys.argv[1] == "run" else report)(sys.argv[2:])

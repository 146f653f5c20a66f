"""Crash points: a run ended at every platform call in turn (as a kill
lands between two calls), and after every flush once more as a power loss
would end it (every file loses what was written to it since its last
flush; names stay as they were made). A normal run then has to leave
everything as if nothing had died: no byte lost, no line cut in two,
nothing left only under another name, no refusal, no file left over.

Every state is visited, in order, so a failure names the call that leads
to it: "crash before call 17", "power loss after call 23"."""

import os
import subprocess

import harness
from e2e_case import E2ECase
from test_archive import copied, read, sep, write

CRASHED = 75  # the fault runner's exit code at a crash point


def numbered(tag, count, width=20):
    """count distinct LF-ended lines: a lost or garbled line shows."""
    return b"".join(b"%s %05d %s\n" % (tag, i, b"." * width) for i in range(count))


# (what, logs, archives before, other files in the archive folder, arguments)
WORKLOADS = [
    ("new archives", {"a.log": numbered(b"a", 3), "b.log": numbered(b"b", 2)}, {}, {}, []),
    ("existing archive, /D", {"a.log": numbered(b"a", 4), "b.log": b""},
     {"a.log": copied(numbered(b"old", 3))}, {}, ["/D"]),
    # Three transfers of 64 KiB: a kill between them leaves whole lines.
    ("long append", {"a.log": numbered(b"a", 4000, 30)}, {"a.log": b"old\r\n"}, {}, []),
    # a.log.tmp is a log too, and its archive lies where a.log's cut would
    # write first.
    ("cut beside another log's archive, /D",
     {"a.log": numbered(b"a", 20), "a.log.tmp": numbered(b"t", 2)},
     {"a.log": copied(numbered(b"old", 30)), "a.log.tmp": copied(numbered(b"tmp", 2))},
     {}, ["/T1", "/D"]),
    ("new archive over the limit, a user's .tmp", {"a.log": numbered(b"a", 60)}, {},
     {"a.log.tmp": b"a user's file\r\n"}, ["/T1"]),
]


def after_a_dead_run(now, old, copy, limit):
    """Whether archive bytes now are old, then whole lines from the start
    of copy (what a dead run appended), then copy, cut to limit bytes."""
    if limit is None or len(now) < limit:
        middle = now[len(old):len(now) - len(copy)]
        return (len(now) >= len(old) + len(copy) and now.startswith(old) and now.endswith(copy)
                and copy.startswith(middle) and middle[-1:] in (b"", b"\n"))
    ends = [0] + [i + 1 for i, byte in enumerate(copy) if byte == 0x0A]
    return any((old + copy[:end] + copy)[-limit:] == now for end in ends)


class CrashPoints(E2ECase):
    def setup(self, logs, archives, others):
        for name, data in logs.items():
            write(self.path("logs/" + name), data)
        for name, data in list(archives.items()) + list(others.items()):
            write(self.path("logs/Archive/" + name), data)

    def run_faulty(self, args, env_name=None, call=0):
        env = dict(os.environ)
        if env_name:
            env[env_name] = str(call)
        command = (harness.CONFIG.runner + [str(harness.CONFIG.faulty)]
                   + harness.Faults().arguments() + args)
        return subprocess.run(command, cwd=self.dir, env=env, stdout=subprocess.PIPE,
                              stderr=subprocess.PIPE, timeout=harness.RUN_TIMEOUT)

    def check(self, label, logs, archives, others, args):
        delete = "/D" in args
        limit = None
        for arg in args:
            if arg.startswith("/T"):
                limit = int(arg[2:]) * 1024
        left = [n for n in logs if os.path.exists(self.path("logs/" + n))]
        code, out, _ = self.run_quilbo([sep("logs/*.log*")] + args)
        self.assertEqual(code, 0 if left else 5, "%s: refused: %r" % (label, out))
        expected = {"Archive"} | (set() if delete else set(logs))
        self.assertEqual(set(os.listdir(self.path("logs"))), expected, label)
        names = set(logs) | set(archives) | set(others)
        self.assertEqual(set(os.listdir(self.path("logs/Archive"))), names, label)
        for name, data in others.items():
            self.assertEqual(read(self.path("logs/Archive/" + name)), data, label)
        for name, data in logs.items():
            if not delete:
                self.assertEqual(read(self.path("logs/" + name)), data, label)
            old = archives.get(name, b"")
            copy = copied(data)
            now = read(self.path("logs/Archive/" + name))
            # The dead run may have appended whole lines of the log; the
            # next run appended the whole log after them.
            self.assertTrue(after_a_dead_run(now, old, copy, limit),
                            "%s: archive %s: %r" % (label, name, now[-200:]))

    def test_every_crash_point(self):
        states = 0
        for what, logs, archives, others, options in WORKLOADS:
            args = [sep("logs/*.log*")] + options
            self.fresh()
            self.setup(logs, archives, others)
            clean = self.run_faulty(args)
            self.assertEqual(clean.returncode, 0, (what, clean.stdout))
            counts = harness._FAULT_LINE.search(clean.stderr)
            calls = int(counts.group(1))
            flushes = [int(n) for n in counts.group(3).split(b",") if n]
            self.check(what + ": clean run", logs, archives, others, options)
            points = [("crash before call %d" % k, "QUILBO_FAULTY_CRASH_BEFORE", k)
                      for k in range(1, calls + 1)]
            points += [("power loss after call %d" % k, "QUILBO_FAULTY_POWER_LOSS_AFTER", k)
                       for k in flushes]
            for label, env_name, call in points:
                self.fresh()
                self.setup(logs, archives, others)
                dead = self.run_faulty(args, env_name, call)
                label = "%s: %s" % (what, label)
                self.assertEqual(dead.returncode, CRASHED, label)
                self.check(label, logs, archives, others, options)
                states += 1
        harness.note("crash points: %d states of %d workloads, each followed by a "
                     "normal run" % (states, len(WORKLOADS)))

"""Crash points: a run ended at every platform call in turn (as a kill
lands between two calls), and after every flush once more as a power loss
would end it (every file loses what was written to it since its last
flush; names stay as they were made). A normal run then has to leave
everything as if nothing had died: no byte lost, no line cut in two,
nothing left only under another name, no refusal, no file left over.

Every state is visited (a crash between two calls that leave the files as
they were is the same state), and a failure names the call that leads to
it: "crash before call 17", "power loss after call 23"."""

import concurrent.futures
import os
import shutil
import subprocess
import tempfile

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
    def setup(self, folder, logs, archives, others):
        for name, data in logs.items():
            write(os.path.join(folder, "logs", name), data)
        for name, data in list(archives.items()) + list(others.items()):
            write(os.path.join(folder, "logs", "Archive", name), data)

    def run_faulty(self, folder, args, env_name=None, call=0):
        env = dict(os.environ)
        if env_name:
            env[env_name] = str(call)
        command = (harness.CONFIG.runner + [str(harness.CONFIG.faulty)]
                   + harness.Faults().arguments() + args)
        return subprocess.run(command, cwd=folder, env=env, stdout=subprocess.PIPE,
                              stderr=subprocess.PIPE, timeout=harness.RUN_TIMEOUT)

    def check(self, folder, label, logs, archives, others, args):
        delete = "/D" in args
        limit = None
        for arg in args:
            if arg.startswith("/T"):
                limit = int(arg[2:]) * 1024
        at = lambda *parts: os.path.join(folder, "logs", *parts)
        left = [n for n in logs if os.path.exists(at(n))]
        code, out, _ = harness.run([sep("logs/*.log*")] + args, folder)
        self.assertEqual(code, 0 if left else 5, "%s: refused: %r" % (label, out))
        expected = {"Archive"} | (set() if delete else set(logs))
        self.assertEqual(set(os.listdir(at())), expected, label)
        names = set(logs) | set(archives) | set(others)
        self.assertEqual(set(os.listdir(at("Archive"))), names, label)
        for name, data in others.items():
            self.assertEqual(read(at("Archive", name)), data, label)
        for name, data in logs.items():
            if not delete:
                self.assertEqual(read(at(name)), data, label)
            now = read(at("Archive", name))
            # The dead run may have appended whole lines of the log; the
            # next run appended the whole log after them.
            self.assertTrue(after_a_dead_run(now, archives.get(name, b""), copied(data), limit),
                            "%s: archive %s: %r" % (label, name, now[-200:]))

    def visit(self, workload, label, env_name, call):
        what, logs, archives, others, options = workload
        folder = tempfile.mkdtemp(prefix="quilbo-crash-")
        try:
            self.setup(folder, logs, archives, others)
            dead = self.run_faulty(folder, [sep("logs/*.log*")] + options, env_name, call)
            label = "%s: %s" % (what, label)
            self.assertEqual(dead.returncode, CRASHED, label)
            self.check(folder, label, logs, archives, others, options)
        finally:
            shutil.rmtree(folder, ignore_errors=True)

    def test_every_crash_point(self):
        states = []
        for workload in WORKLOADS:
            what, logs, archives, others, options = workload
            self.fresh()
            self.setup(self.dir, logs, archives, others)
            clean = self.run_faulty(self.dir, [sep("logs/*.log*")] + options)
            self.assertEqual(clean.returncode, 0, (what, clean.stdout))
            counts = harness._FAULT_LINE.search(clean.stderr)
            calls = int(counts.group(1))
            numbers = lambda group: [int(n) for n in counts.group(group).split(b",") if n]
            # Between two calls that may change files, a crash leaves the
            # same files: one crash per such call covers every state.
            states += [(workload, "crash before call %d" % k, "QUILBO_FAULTY_CRASH_BEFORE", k)
                       for k in [1] + [n + 1 for n in numbers(4) if n < calls]]
            states += [(workload, "power loss after call %d" % k,
                        "QUILBO_FAULTY_POWER_LOSS_AFTER", k) for k in numbers(3)]
            self.check(str(self.dir), what + ": clean run", logs, archives, others, options)
        with concurrent.futures.ThreadPoolExecutor(max_workers=2) as pool:
            for done in [pool.submit(self.visit, *state) for state in states]:
                done.result()
        harness.note("crash points: %d states of %d workloads, each followed by a "
                     "normal run" % (len(states), len(WORKLOADS)))

#!/usr/bin/env python3
"""Mutation testing of the module.

Applies each fault of the catalogues (mutation/catalogue.txt, and
mutation/neighbour_inputs.txt: what the neighbours hand the module) in turn
to a private copy of the sources (the working tree is never written),
rebuilds the behaviour suite and the driver image there, and runs the suite
on both backends, stopping at the first failing test.  Prints one line per
mutant (caught, and by what; or survived), the diff of every survivor, and
the score.

    mutation/mutate.py                       # every mutant
    mutation/mutate.py --only NAME[,NAME]    # some
    mutation/mutate.py --catalogue mutation/neighbour_inputs.txt   # one catalogue's
    mutation/mutate.py --each-backend        # judge each on every backend apart
    mutation/mutate.py --tests '*EditedTables*'   # judged by those tests alone
    mutation/mutate.py --sample              # the fixed sample CI runs (host and GNU image)
    mutation/mutate.py --sample --in-build build   # the same in build/'s mutation targets (what CTest runs)
    mutation/mutate.py --check               # only check the catalogue against the sources

Exit status: 0 when every mutant not marked equivalent was caught, 1 when one
survived, 2 on an error (a catalogue entry that no longer matches the
sources or does not build, a build or suite that fails without any mutant).
"""
import argparse
import difflib
import json
import os
import shutil
import signal
import subprocess
import sys
import time
from pathlib import Path

ROOT = Path(__file__).resolve().parent.parent
CATALOGUES = [ROOT / "mutation" / "catalogue.txt", ROOT / "mutation" / "neighbour_inputs.txt"]
# The fixed sample CI runs, so the machinery cannot rot: a fault in each of
# the module's parts (the mode-list build, the mode services, the forwarded
# entries), judged on the host build and the GNU image.  The full run judges
# every mutant on all three backends.
SAMPLE = ["disabled-low-byte", "validate-whole-frequency", "passthrough-tv-on-minus-one-only"]
# The backends (the behaviour suite's parameter) each kind of run judges on.
ALL_BACKENDS = ["Host", "Image", "ImageMsvc"]
SAMPLE_BACKENDS = ["Host", "Image"]
# Left out of the sample: the thousand attaches on the image (most of the
# suite's time there; the full run keeps it).
SAMPLE_LEAVES_OUT = ["*AThousandAttaches*/Image"]
BUILD_TIMEOUT = 600
SUITE_TIMEOUT = 300
COPY_SKIP = {".git", "build", "out"}


class CatalogueError(Exception):
    pass


def unescape(text):
    return text.replace("\\n", "\n")


def parse_catalogue(path):
    mutants, current = [], None
    for number, line in enumerate(path.read_text().splitlines(), 1):
        if not line.strip() or line.startswith("#"):
            continue
        key, sep, value = line.partition(":")
        if line.startswith("mutant "):
            current = {"name": line[len("mutant "):].strip(), "line": number}
            mutants.append(current)
        elif sep and current is not None and key in ("file", "from", "to", "equivalent"):
            current[key] = unescape(value.strip())
        else:
            raise CatalogueError(f"{path.name}:{number}: cannot read '{line}'")
    names = set()
    for m in mutants:
        for key in ("file", "from", "to"):
            if key not in m:
                raise CatalogueError(f"{path.name}:{m['line']}: mutant {m['name']} has no '{key}:'")
        if m["name"] in names:
            raise CatalogueError(f"{path.name}:{m['line']}: mutant {m['name']} named twice")
        names.add(m["name"])
    return mutants


def parse_catalogues(paths):
    """Every mutant of the catalogues, each name once across them."""
    mutants, names = [], set()
    for path in paths:
        for m in parse_catalogue(path):
            if m["name"] in names:
                raise CatalogueError(f"{path.name}:{m['line']}: mutant {m['name']} named in another catalogue too")
            names.add(m["name"])
            mutants.append(m)
    return mutants


def check_against(mutants, root):
    """Every `from` must occur exactly once in its file; returns the errors."""
    errors = []
    for m in mutants:
        source = root / m["file"]
        if not source.is_file():
            errors.append(f"mutant {m['name']}: no file {m['file']}")
            continue
        found = source.read_text().count(m["from"])
        if found != 1:
            what = "not found" if found == 0 else f"found {found} times"
            errors.append(f"mutant {m['name']}: {m['file']}: '{m['from']}' {what}")
    return errors


def sync_copy(src, dst):
    """Mirrors the sources into dst, rewriting only files that differ, so the
    copy's build stays incremental, and removing what the sources no longer
    have (a header left behind would shadow its moved successor)."""
    for dirpath, dirnames, filenames in os.walk(src):
        rel = Path(dirpath).relative_to(src)
        dirnames[:] = [d for d in dirnames if not (rel == Path(".") and (d in COPY_SKIP or d.startswith("build-")))]
        (dst / rel).mkdir(parents=True, exist_ok=True)
        for name in filenames:
            a, b = Path(dirpath) / name, dst / rel / name
            data = a.read_bytes()
            if not b.exists() or b.read_bytes() != data:
                b.write_bytes(data)
                shutil.copymode(a, b)
        for gone in set(os.listdir(dst / rel)) - set(filenames) - set(dirnames):
            stale = dst / rel / gone
            if stale.is_dir() and not stale.is_symlink():
                shutil.rmtree(stale)
            else:
                stale.unlink()


def run(cmd, timeout, **kw):
    """Runs cmd; returns (status, output), status None on timeout."""
    try:
        p = subprocess.run(cmd, stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True,
                           timeout=timeout, errors="replace", **kw)
        return p.returncode, p.stdout
    except subprocess.TimeoutExpired as e:
        out = e.stdout.decode(errors="replace") if isinstance(e.stdout, bytes) else (e.stdout or "")
        return None, out


def run_steps(steps):
    """Runs each command in turn until one fails; returns (status, output)."""
    output = ""
    for step in steps:
        status, out = run(step, BUILD_TIMEOUT)
        output += out
        if status != 0:
            return status, output
    return 0, output


def suite_filter(backends, leave_out, tests="*"):
    """The behaviour suite's tests (those named by the pattern `tests`) on
    those backends, less leave_out."""
    wanted = ":".join(tests + "/" + b for b in backends)
    return "--gtest_filter=" + wanted + (":-" + ":".join(leave_out) if leave_out else "")


class Workspace:
    def __init__(self, work, jobs, backends, leave_out=(), tests="*"):
        self.src = work / "src"
        self.build = work / "build"
        self.jobs = jobs
        self.backends = backends
        self.leave_out = list(leave_out)
        self.tests = tests

    def prepare(self):
        self.src.mkdir(parents=True, exist_ok=True)
        sync_copy(ROOT, self.src)
        if not (self.build / "CMakeCache.txt").exists():
            # Makefiles: compile_mutant builds one target without its dependencies.
            status, out = run(["cmake", "-G", "Unix Makefiles", "-S", str(self.src), "-B", str(self.build),
                               "-DCMAKE_BUILD_TYPE=RelWithDebInfo"], BUILD_TIMEOUT)
            if status != 0:
                raise CatalogueError("configuring the copy failed:\n" + out[-3000:])

    def compile(self):
        """Builds the suite and both images, everything a change may touch."""
        return run(["cmake", "--build", str(self.build), "-j", str(self.jobs),
                    "--target", "zerval_tests", "zerval_image"], BUILD_TIMEOUT)

    def compile_mutant(self):
        """Rebuilds what a mutant of the module changes for the backends
        judged: without the MSVC image, the module's host objects and the
        suite's link (zerval_tests/fast: the suite alone, its other
        dependencies left as the last whole build made them), and the GNU
        image in its own build tree.  The next whole build (the next run's
        first) rebuilds the rest from the restored sources."""
        if "ImageMsvc" in self.backends:
            return self.compile()
        steps = [["cmake", "--build", str(self.build), "-j", str(self.jobs), "--target", "zerval_module"],
                 ["cmake", "--build", str(self.build), "-j", str(self.jobs), "--target", "zerval_tests/fast"]]
        if "Image" in self.backends:
            steps.append(["cmake", "--build", str(self.build / "image-gnu"), "-j", str(self.jobs)])
        return run_steps(steps)

    def suite(self, backends=None):
        backends = backends or self.backends
        selected = []
        if backends != ALL_BACKENDS or self.leave_out or self.tests != "*":
            selected = [suite_filter(backends, self.leave_out, self.tests)]
        return run([str(self.build / "bin" / "zerval_tests"), "--gtest_fail_fast", "--gtest_brief=1"] + selected,
                   SUITE_TIMEOUT, cwd=str(self.build))


class BuildTreeWorkspace:
    """The sample's workspace: a build tree of the project itself, whose
    mutation/ folder holds a copy of the module's sources and targets built
    from it (mutation/CMakeLists.txt, which writes what it copies and those
    targets, in build order, to mutation/tree.json).  Only those targets are
    built, each without its dependencies (Makefiles' target/fast), so
    nothing else in the tree changes while the rest of the tests run."""

    def __init__(self, build, jobs, backends, leave_out=()):
        self.build = build
        self.src = build / "mutation" / "tree"
        self.jobs = jobs
        self.backends = backends
        self.leave_out = list(leave_out)
        self.copied, self.targets = [], []

    def prepare(self):
        listing = self.build / "mutation" / "tree.json"
        if not listing.is_file():
            raise CatalogueError(f"{self.build}: not a configured build with the mutation targets")
        tree = json.loads(listing.read_text())
        self.copied, self.targets = tree["copied"], tree["targets"]
        for entry in self.copied:
            if (ROOT / entry).is_dir():
                sync_copy(ROOT / entry, self.src / entry)
            elif (ROOT / entry).read_bytes() != (self.src / entry).read_bytes():
                shutil.copy2(ROOT / entry, self.src / entry)

    def compile(self):
        # The unmutated copy with its dependencies checked: a header the
        # harness or the suite share with the module may have changed since
        # the last sample, which target/fast would not notice.
        return run_steps([["cmake", "--build", str(self.build), "-j", str(self.jobs), "--target"] + self.targets])

    def compile_mutant(self):
        # A mutant changes one source file of the module: its objects alone.
        return run_steps([["cmake", "--build", str(self.build), "-j", str(self.jobs), "--target", target + "/fast"]
                          for target in self.targets])

    def suite(self, backends=None):
        env = dict(os.environ, ZERVAL_IMAGE=str(self.build / "mutation" / "image-gnu" / "zerval.sys"))
        return run([str(self.build / "bin" / "zerval_tests_mutant"), "--gtest_fail_fast", "--gtest_brief=1",
                    suite_filter(backends or self.backends, self.leave_out)], SUITE_TIMEOUT, cwd=str(self.build),
                   env=env)


def first_failure(output):
    for line in output.splitlines():
        if line.startswith("[  FAILED  ]") and "." in line:
            return line[len("[  FAILED  ]"):].strip().split(",")[0].split(" ")[0]
    return None


def verdict_of(status, out):
    """What one run of the suite says of a mutant."""
    if status is None:
        return "caught", "hang (suite timed out)"
    if status == 0:
        return "survived", ""
    if status < 0:
        return "caught", f"crash (signal {-status})"
    return "caught", first_failure(out) or f"suite exit {status}"


def judge(ws, m, each_backend=False):
    """Applies one mutant to the copy, builds, runs; restores the copy.  With
    each_backend, the suite runs on every backend apart, and the mutant is
    caught only when every one of them catches it."""
    path = ws.src / m["file"]
    original = path.read_text()
    try:
        path.write_text(original.replace(m["from"], m["to"], 1))
        status, out = ws.compile_mutant()
        if status != 0:
            if status is None:
                return "stillborn", "build timed out"
            errors = [line for line in out.splitlines() if "error" in line]
            return "stillborn", "does not build: " + (errors[0].strip() if errors else "(no error line)")
        if not each_backend:
            return verdict_of(*ws.suite())
        verdicts = [(b,) + verdict_of(*ws.suite([b])) for b in ws.backends]
        how = "; ".join(f"{b}: {how or verdict}" for b, verdict, how in verdicts)
        return ("caught" if all(v == "caught" for _, v, _ in verdicts) else "survived"), how
    finally:
        path.write_text(original)


def diff(m):
    original = (ROOT / m["file"]).read_text()
    mutated = original.replace(m["from"], m["to"], 1)
    return "".join(difflib.unified_diff(original.splitlines(True), mutated.splitlines(True),
                                        "a/" + m["file"], "b/" + m["file"], n=1))


def interrupted(*_):
    raise KeyboardInterrupt


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--only", help="comma-separated mutant names")
    parser.add_argument("--sample", action="store_true", help="the fixed sample CI runs")
    parser.add_argument("--check", action="store_true", help="check the catalogues against the sources, build nothing")
    parser.add_argument("--catalogue", help="only this catalogue's mutants (a file of mutation/)")
    parser.add_argument("--each-backend", action="store_true",
                        help="run the suite on every backend apart; caught only when each catches it")
    parser.add_argument("--tests", default="*",
                        help="judge by the behaviour tests this gtest pattern names (without the backend) alone")
    parser.add_argument("--work", default=str(ROOT / "build" / "mutation"), help="where the copy and its build go")
    parser.add_argument("--jobs", type=int, default=2)
    parser.add_argument("--in-build", help="with --sample: judge in this build tree's mutation targets, not a copy")
    args = parser.parse_args()

    # SIGTERM unwinds like Ctrl-C, so the copy is restored either way.
    signal.signal(signal.SIGTERM, interrupted)
    try:
        mutants = parse_catalogues(CATALOGUES)
        errors = check_against(mutants, ROOT)
        if errors:
            raise CatalogueError("the catalogue no longer matches the sources:\n  " + "\n  ".join(errors))
        if args.check:
            print(f"catalogue: {len(mutants)} mutants, every snippet found once")
            return 0
        if args.catalogue:
            chosen = Path(args.catalogue).resolve()
            if chosen not in CATALOGUES:
                raise CatalogueError(f"{args.catalogue}: not one of the catalogues (" +
                                     ", ".join(str(c.relative_to(ROOT)) for c in CATALOGUES) + ")")
            mutants = parse_catalogue(chosen)
        wanted = SAMPLE if args.sample else (args.only.split(",") if args.only else None)
        if wanted is not None:
            unknown = [n for n in wanted if n not in {m["name"] for m in mutants}]
            if unknown:
                raise CatalogueError("no such mutant: " + ", ".join(unknown))
            mutants = [m for m in mutants if m["name"] in wanted]

        if args.sample and args.in_build:
            ws = BuildTreeWorkspace(Path(args.in_build).resolve(), args.jobs, SAMPLE_BACKENDS, SAMPLE_LEAVES_OUT)
        elif args.sample:
            ws = Workspace(Path(args.work).resolve(), args.jobs, SAMPLE_BACKENDS, SAMPLE_LEAVES_OUT)
        else:
            ws = Workspace(Path(args.work).resolve(), args.jobs, ALL_BACKENDS, tests=args.tests)
        ws.prepare()
        status, out = ws.compile()
        if status != 0:
            raise CatalogueError("the unmutated copy does not build:\n" + out[-3000:])
        status, out = ws.suite()
        if status != 0:
            raise CatalogueError("the behaviour suite fails without any mutant:\n" + out[-3000:])

        results = []
        width = max(len(m["name"]) for m in mutants)
        for i, m in enumerate(mutants, 1):
            started = time.monotonic()
            verdict, how = judge(ws, m, args.each_backend)
            if verdict == "survived" and "equivalent" in m:
                verdict, how = "equivalent", m["equivalent"]
            results.append((m, verdict))
            print(f"[{i:3}/{len(mutants)}] {m['name']:<{width}}  {verdict:<10} {how}"
                  f"  ({time.monotonic() - started:.0f} s)", flush=True)
    except CatalogueError as e:
        print(f"mutate.py: error: {e}", file=sys.stderr)
        return 2
    except KeyboardInterrupt:
        print("mutate.py: interrupted; the copy is restored", file=sys.stderr)
        return 130

    survivors = [m for m, v in results if v == "survived"]
    for m in survivors:
        print(f"\nsurvived: {m['name']}\n{diff(m)}", end="")
    counts = {v: sum(1 for _, x in results if x == v) for v in ("caught", "survived", "equivalent", "stillborn")}
    judged = counts["caught"] + counts["survived"]
    score = 100.0 * counts["caught"] / judged if judged else 100.0
    print(f"\n{len(results)} mutants: {counts['caught']} caught, {counts['survived']} survived, "
          f"{counts['equivalent']} equivalent, {counts['stillborn']} did not build; "
          f"score {score:.1f}% ({counts['caught']}/{judged})")
    if counts["stillborn"]:
        print("mutate.py: error: a mutant that does not build is a fault of the catalogue", file=sys.stderr)
        return 2
    return 1 if survivors else 0


if __name__ == "__main__":
    sys.exit(main())

#!/usr/bin/env python3
"""Plants small faults in the product code, one at a time, and counts those no test notices.

  mutants.py plan --repo DIR --count N --seed S --out PLAN.json
      picks N mutation sites in DIR's src/ (not platform/win32) and tools/
  mutants.py run --repo DIR --plan PLAN.json [--out RESULT.json]
      copies DIR into a scratch folder, builds it once, then applies each mutant of the plan,
      rebuilds and runs ctest; a mutant is killed when a test fails or the build times out,
      survives when every test passes, and is skipped when its line is gone or it does not
      compile. The plan stores each site's line text, so one plan can be replayed on a later
      tree: both runs then judge the same faults.
"""
import argparse
import json
import os
import random
import re
import shutil
import subprocess
import sys
import tempfile
import time

# Binary operators as clang-format spaces them, and what each becomes.
SWAPS = [(" < ", " <= "), (" <= ", " < "), (" > ", " >= "), (" >= ", " > "),
         (" == ", " != "), (" != ", " == "), (" && ", " || "), (" || ", " && "),
         (" + ", " - "), (" - ", " + "), ("true", "false"), ("false", "true")]
DELETABLE = re.compile(r"^\s*[A-Za-z_][\w:.\->\[\]]*\(.*\);\s*$")  # a bare call statement


def product_files(repo):
    for top in ("src", "tools"):
        for root, _, files in os.walk(os.path.join(repo, top)):
            if os.sep + "win32" in root:
                continue
            for name in sorted(files):
                if name.endswith((".cpp", ".h")):
                    yield os.path.relpath(os.path.join(root, name), repo)


def outside_strings(line, pos):
    return line[:pos].count('"') % 2 == 0 and "//" not in line[:pos]


def sites(repo):
    for path in sorted(product_files(repo)):
        with open(os.path.join(repo, path), encoding="utf-8", errors="replace") as f:
            lines = f.read().split("\n")
        for number, line in enumerate(lines, 1):
            stripped = line.strip()
            if not stripped or stripped.startswith(("//", "#", "*", "static_assert")):
                continue
            for old, new in SWAPS:
                for match in re.finditer(re.escape(old) if old[0] == " " else r"\b%s\b" % old, line):
                    if outside_strings(line, match.start()):
                        yield {"file": path, "line": number, "text": line, "column": match.start(),
                               "old": old, "new": new}
            if DELETABLE.match(line) and not stripped.startswith("return"):
                yield {"file": path, "line": number, "text": line, "column": 0, "old": line,
                       "new": ""}


def apply(repo, mutant):
    path = os.path.join(repo, mutant["file"])
    if not os.path.exists(path):
        return None
    with open(path, encoding="utf-8", errors="replace") as f:
        original = f.read()
    lines = original.split("\n")
    candidates = [i for i, l in enumerate(lines) if l == mutant["text"]]
    if not candidates:
        return None
    index = min(candidates, key=lambda i: abs(i + 1 - mutant["line"]))
    line, col, old = lines[index], mutant["column"], mutant["old"]
    if line[col:col + len(old)] != old:
        return None
    lines[index] = line[:col] + mutant["new"] + line[col + len(old):]
    with open(path, "w", encoding="utf-8") as f:
        f.write("\n".join(lines))
    return original


def run(cmd, cwd, timeout):
    try:
        return subprocess.run(cmd, cwd=cwd, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                              timeout=timeout).returncode
    except subprocess.TimeoutExpired:
        return "timeout"


def command_plan(args):
    every = list(sites(args.repo))
    chosen = random.Random(args.seed).sample(every, min(args.count, len(every)))
    with open(args.out, "w") as f:
        json.dump({"seed": args.seed, "sites": len(every), "mutants": chosen}, f, indent=1)
    print(f"{len(chosen)} of {len(every)} sites -> {args.out}")


def command_run(args):
    plan = json.load(open(args.plan))
    scratch = tempfile.mkdtemp(prefix="mutants-")
    tree = os.path.join(scratch, "tree")
    shutil.copytree(args.repo, tree, ignore=shutil.ignore_patterns(".git", "build*", "demo-out"))
    build = os.path.join(tree, "build")
    configure = ["cmake", "-S", tree, "-B", build, "-G", "Ninja", "-DCMAKE_BUILD_TYPE=Debug",
                 "-DCMAKE_CXX_FLAGS=-O1 -g0", "-DFLOPPYSET_BENCH=OFF",
                 "-DFLOPPYSET_WERROR=ON"]
    if run(configure, tree, 600) != 0 or run(["ninja", "-C", build], tree, 3600) != 0:
        sys.exit("mutants: the unchanged tree does not build")
    ctest = ["ctest", "--test-dir", build, "-j", "2", "--timeout", "120", "--stop-on-failure"]
    if run(ctest, tree, 1200) != 0:
        sys.exit("mutants: the unchanged tree fails its tests")
    results = []
    for number, mutant in enumerate(plan["mutants"], 1):
        started = time.time()
        original = apply(tree, mutant)
        if original is None:
            verdict = "gone"
        else:
            built = run(["ninja", "-C", build], tree, 900)
            if built == "timeout":
                verdict = "killed"
            elif built != 0:
                verdict = "uncompilable"
            else:
                verdict = "survived" if run(ctest, tree, 1200) == 0 else "killed"
            with open(os.path.join(tree, mutant["file"]), "w", encoding="utf-8") as f:
                f.write(original)
        results.append(dict(mutant, verdict=verdict))
        print(f"[{number}/{len(plan['mutants'])}] {verdict:12} {mutant['file']}:{mutant['line']} "
              f"{mutant['old'].strip()!r} -> {mutant['new'].strip()!r} "
              f"({time.time() - started:.0f} s)", flush=True)
    run(["ninja", "-C", build], tree, 3600)
    judged = [r for r in results if r["verdict"] in ("killed", "survived")]
    killed = sum(r["verdict"] == "killed" for r in judged)
    print(f"killed {killed} of {len(judged)} judged mutants"
          f" ({100.0 * killed / max(1, len(judged)):.1f}%);"
          f" {len(results) - len(judged)} gone or uncompilable")
    for r in judged:
        if r["verdict"] == "survived":
            print(f"  survivor {r['file']}:{r['line']}: {r['text'].strip()}"
                  f"   [{r['old'].strip()!r} -> {r['new'].strip()!r}]")
    if args.out:
        json.dump(results, open(args.out, "w"), indent=1)
    shutil.rmtree(scratch, ignore_errors=True)


def main():
    parser = argparse.ArgumentParser(description=__doc__,
                                     formatter_class=argparse.RawDescriptionHelpFormatter)
    sub = parser.add_subparsers(dest="command", required=True)
    p = sub.add_parser("plan")
    p.add_argument("--repo", default=".")
    p.add_argument("--count", type=int, default=60)
    p.add_argument("--seed", type=int, default=7)
    p.add_argument("--out", required=True)
    r = sub.add_parser("run")
    r.add_argument("--repo", default=".")
    r.add_argument("--plan", required=True)
    r.add_argument("--out")
    args = parser.parse_args()
    command_plan(args) if args.command == "plan" else command_run(args)


if __name__ == "__main__":
    main()

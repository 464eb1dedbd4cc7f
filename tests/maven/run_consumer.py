#!/usr/bin/env python3
"""Builds and tests the consumer project (consumer/) with Maven, offline, as
a Java team would: org.movrek:nativeflush resolved from the file repository
REPO (dist/maven/), its JUnit test run by Surefire in a JVM forked from JAVA.
Prints what Maven said that matters, one fact per line, and compares it with
what must be: the JVM that ran the tests, the test summary, no warning or
error from Maven or the JVMs, and the forked JVM's standard output, which
Surefire passes through as it is (its own talk goes over TCP): exactly the
library's line for the missing directory. And README.md's DurableDiskSession
must be the consumer's, which is compiled here, character for character.

  run_consumer.py MVN M2 REPO VERSION JAVA EXPECTED_JVM
M2, the local repository that scripts/bootstrap.sh filled, is copied for the
run: Maven keeps what it resolves there, and would reuse an older jar of the
same version. EXPECTED_JVM is "<java.specification.version> <java.vendor>".
"""
import os
import re
import shutil
import subprocess
import sys
import tempfile
import xml.etree.ElementTree as ET

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "harness"))
from reporting import compare  # noqa: E402

CLASS = "src/main/java/org/movrek/filesystem/DurableDiskSession.java"
LINE = "Movrek Error [Native Module] Directory {} does not exist."
TEST = "org.movrek.filesystem.DurableDiskSessionTest"


def main():
    mvn, m2, repo, version, java, expected_jvm = sys.argv[1:]
    with tempfile.TemporaryDirectory() as work:
        shutil.copytree(m2, f"{work}/m2")
        project = shutil.copytree(f"{HERE}/consumer", f"{work}/consumer")
        # -o shuts out every remote repository, file:// ones too, unless their protocol is let through.
        run = subprocess.run([mvn, "-o", "-B", "-Dstyle.color=never", "-Daether.offline.protocols=file",
                              f"-Dmaven.repo.local={work}/m2", f"-Dnativeflush.repo=file://{os.path.abspath(repo)}",
                              f"-Dnativeflush.version={version}", f"-Djvm={java}", "test"],
                             cwd=project, capture_output=True, text=True)
        print(run.stdout, run.stderr, sep="")
        # Maven 3.8's console library writes a colour reset even in batch mode.
        lines, errors = (re.sub(r"\x1b\[[0-9;]*m", "", text).splitlines() for text in (run.stdout, run.stderr))
        try:
            report = ET.parse(f"{project}/target/surefire-reports/TEST-{TEST}.xml")
            jvm = {p.get("name"): p.get("value") for p in report.iter("property")}
            jvm = f"{jvm['java.specification.version']} {jvm['java.vendor']}"
        except (OSError, ET.ParseError):
            jvm = "(no Surefire report)"
        summary = [line for line in lines if line.startswith("[INFO] Tests run:") and "Time elapsed" not in line]
        warnings = [line for line in lines + errors if "WARN" in line or "ERROR" in line]
        with open(f"{HERE}/../../README.md") as text, open(f"{project}/{CLASS}") as consumer:
            readme = re.findall(r"```java\n(package org.movrek.filesystem;.*?)```", text.read(), re.S)
            same = readme == [consumer.read()]
        stdout = " | ".join(line for line in lines if not line.startswith("[")) or "(none)"
        return compare("tests/maven/consumer", [
            ("README.md's DurableDiskSession", "the consumer", "the consumer" if same else readme),
            ("exit status", 0, run.returncode),
            ("tests ran on", expected_jvm, jvm),
            ("summary", "[INFO] Tests run: 2, Failures: 0, Errors: 0, Skipped: 0", " | ".join(summary) or "(none)"),
            ("warnings and errors", "(none)", " | ".join(warnings) or "(none)"),
            ("forked JVM's stdout", LINE.format(f"{project}/target/missing-directory"), stdout),
        ])


if __name__ == "__main__":
    sys.exit(main())

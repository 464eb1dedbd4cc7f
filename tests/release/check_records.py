#!/usr/bin/env python3
"""Checks dist/'s SBOM and provenance (tools/release_records.py) with
validators we did not write, then reads every digest in both back against
the files: cyclonedx-python-lib's strict JSON validator of CycloneDX 1.6;
in-toto-attestation's Statement, whose predicate must parse into its SLSA
Provenance v1 message with no field it does not know. Run by the virtual
environment's Python (NATIVEFLUSH_VENV).

  check_records.py [--altered FILE] DIST ARTIFACT VERSION
With --altered, a copy of DIST with one byte of FILE changed is checked.
"""
import hashlib
import json
import os
import shutil
import sys
import tempfile
from importlib.metadata import version as installed

from cyclonedx.schema import SchemaVersion
from cyclonedx.validation.json import JsonStrictValidator
from google.protobuf import json_format
from in_toto_attestation.predicates.provenance.v1 import provenance_pb2
from in_toto_attestation.v1 import statement_pb2
from in_toto_attestation.v1.statement import Statement

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "harness"))
from reporting import compare  # noqa: E402


def check(dist, shown, artifact, version):
    base = f"{dist}/{artifact}-{version}"
    with open(f"{base}.cdx.json") as f:
        text = f.read()
    invalid = JsonStrictValidator(SchemaVersion.V1_6).validate_str(text)
    with open(f"{base}.intoto.json") as f:
        statement = json.load(f)
    try:
        Statement.copy_from_pb(json_format.ParseDict(statement, statement_pb2.Statement())).validate()
        json_format.ParseDict(statement["predicate"], provenance_pb2.Provenance())
        refused = None
    except (json_format.ParseError, ValueError) as error:
        refused = error
    # Each digest: (record, file, algorithm as the record names it, value).
    jar = json.loads(text)["metadata"]["component"]
    natives = [c["name"] for c in jar["components"]]
    listed = [("SBOM", f"{artifact}-{version}.jar" if c is jar else c["name"], h["alg"], h["content"])
              for c in [jar] + jar["components"] for h in c["hashes"]]
    listed += [("provenance", s["name"], a, v) for s in statement["subject"] for a, v in s["digest"].items()]

    def differs(file, algorithm, value):
        with open(f"{dist}/{file}", "rb") as f:
            return hashlib.new(algorithm.replace("-", "").lower(), f.read()).hexdigest() != value

    files = sorted(os.path.relpath(os.path.join(d, f), dist) for d, _, fs in os.walk(dist) for f in fs)
    with open(f"{dist}/SHA256SUMS") as f:
        summed = [line.split("  ", 1)[1].strip() for line in f]  # the files, the jar, the SBOM
    return compare(shown, [
        (f"cyclonedx-python-lib {installed('cyclonedx-python-lib')}, CycloneDX 1.6 JSON, strict", "valid",
         f"invalid: {getattr(invalid.data, 'message', invalid)}" if invalid else "valid"),
        (f"in-toto-attestation {installed('in-toto-attestation')}, Statement v1 and SLSA Provenance v1", "valid",
         f"invalid: {refused}" if refused else "valid"),
        ("SBOM's files in the jar", " ".join(sorted(summed[:-2])), " ".join(sorted(natives))),
        ("provenance subjects", " ".join(f for f in files if ".intoto.json" not in f),
         " ".join(s["name"] for s in statement["subject"])),
        ("digests that differ from the files", "(none)",
         " ".join(f"{r} {f} {a}" for r, f, a, v in listed if differs(f, a, v)) or "(none)"),
    ])


def main():
    altered = sys.argv[2] if sys.argv[1] == "--altered" else None
    dist, artifact, version = sys.argv[3 if altered else 1:]
    if not altered:
        return check(dist, dist, artifact, version)
    with tempfile.TemporaryDirectory() as work:
        copy = shutil.copytree(dist, f"{work}/dist")
        with open(f"{copy}/{altered}", "r+b") as f:
            first = f.read(1)[0]
            f.seek(0)
            f.write(bytes([first ^ 1]))
        return check(copy, f"{dist} (a copy with one byte of {altered} changed)", artifact, version)


if __name__ == "__main__":
    sys.exit(main())

#!/usr/bin/env python3
"""Checks dist/maven/ (cmake/maven.cmake) from its files: exactly the files
of one release, every checksum right, the POM and maven-metadata.xml parsed
and naming the coordinates, the POM holding nothing else but name and
description, the jar and the SBOM (classifier cyclonedx) the same bytes as
dist/'s, the sources jar compiling to
the jar's two classes, the javadoc jar holding the class's page. Prints one
fact per line and compares them with what must be.

  check_repository.py [--signed GPG CMAKE] JDK DIST GROUP ARTIFACT VERSION
With --signed, the repository is first made again from DIST's files in a
temporary folder: with NATIVEFLUSH_SIGNING_KEY naming no key, which must stop
it, then with a throwaway key in a temporary GNUPGHOME. Every .asc must
verify, and the jar's must fail once a byte of the jar is altered.
"""
import hashlib
import os
import shutil
import subprocess
import sys
import tempfile
import xml.etree.ElementTree as ET
import zipfile

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "harness"))
from reporting import compare  # noqa: E402

SUMS = ("md5", "sha1", "sha256", "sha512")
CLASS = "org/movrek/nativeflush/NativeflushLibrary"
CLASSES = (f"{CLASS}.class", "META-INF/versions/9/module-info.class")
ROOT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..")


def read(path):
    with open(path, "rb") as f:
        return f.read()


def sign(gpg, cmake, dist, version, work):
    """Makes WORK/dist/maven from DIST's files and the loader's source as built; what the unknown key did."""
    os.makedirs(f"{work}/dist")
    for name in (n for n in os.listdir(dist) if os.path.isfile(f"{dist}/{n}")):
        shutil.copy(f"{dist}/{name}", f"{work}/dist")
    shutil.copytree(f"{ROOT}/build/jar/src", f"{work}/jar/src")
    os.mkdir(f"{work}/gnupg", 0o700)
    make = [cmake, f"-DDIST={work}/dist", f"-DWORK={work}/jar", f"-DVERSION={version}", "-P",
            f"{ROOT}/cmake/maven.cmake"]
    run = lambda command, key: subprocess.run(  # noqa: E731
        command, env=dict(os.environ, GNUPGHOME=f"{work}/gnupg", NATIVEFLUSH_SIGNING_KEY=key),
        capture_output=True, text=True)
    refused = run(make, "nobody")
    run([gpg, "--batch", "--passphrase", "", "--quick-gen-key", "throwaway", "ed25519", "sign", "never"], "")
    run(make, "throwaway").check_returncode()
    return ("refused" if refused.returncode and "holds no secret key by that name" in refused.stderr
            else f"not refused: {refused.returncode} {refused.stderr.strip()}")


def main():
    signed = sys.argv[1] == "--signed"
    gpg, cmake = sys.argv[2:4] if signed else (None, None)
    jdk, dist, group, artifact, version = sys.argv[4 if signed else 1:]
    with tempfile.TemporaryDirectory() as work:
        unknown_key = sign(gpg, cmake, dist, version, work) if signed else None
        repo = f"{work}/dist/maven" if signed else f"{dist}/maven"
        folder = f"{group.replace('.', '/')}/{artifact}"
        base = f"{repo}/{folder}/{version}/{artifact}-{version}"
        files = [f"{base}{end}" for end in (".jar", ".pom", "-sources.jar", "-javadoc.jar", "-cyclonedx.json")]
        files += [f"{repo}/{folder}/maven-metadata.xml"]
        files += [f"{f}.asc" for f in files] if signed else []
        wrong_sums = [f"{f}.{s}" for f in files for s in SUMS if not os.path.exists(f"{f}.{s}")
                      or read(f"{f}.{s}").decode() != hashlib.new(s, read(f)).hexdigest()]
        listed = sorted(os.path.relpath(os.path.join(d, f), repo) for d, _, fs in os.walk(repo) for f in fs)
        pom = ET.parse(f"{base}.pom").getroot()
        ns = {"m": "http://maven.apache.org/POM/4.0.0"}
        metadata = ET.parse(files[5]).getroot()

        zipfile.ZipFile(f"{base}-sources.jar").extractall(f"{work}/sources")
        source = f"{work}/sources/{CLASS}.java"
        subprocess.run([f"{jdk}/bin/javac", "--release", "8", "-d", f"{work}/8", source], check=True)
        subprocess.run([f"{jdk}/bin/javac", "--release", "9", "-d", f"{work}/9", f"{work}/sources/module-info.java",
                        source], check=True)
        # Jarred as cmake/jar.cmake does: the jar tool adds the module's packages to module-info.class.
        subprocess.run([f"{jdk}/bin/jar", "--create", "--file", f"{work}/again.jar", "-C", f"{work}/8",
                        CLASSES[0], "--release", "9", "-C", f"{work}/9", "module-info.class"], check=True)
        jar, again = zipfile.ZipFile(f"{base}.jar"), zipfile.ZipFile(f"{work}/again.jar")
        same = [n for n, ours, end in (("jar", ".jar", ".jar"), ("SBOM", "-cyclonedx.json", ".cdx.json"))
                if os.path.exists(base + ours) and read(base + ours) == read(f"{dist}/{artifact}-{version}{end}")]
        compiled = [c for c in CLASSES if jar.read(c) == again.read(c)]
        pages = [n for n in zipfile.ZipFile(f"{base}-javadoc.jar").namelist() if n.endswith("/NativeflushLibrary.html")]
        every = files + [f"{f}.{s}" for f in files for s in SUMS]
        facts = [
            ("files", " ".join(sorted(os.path.relpath(f, repo) for f in every)), " ".join(listed)),
            ("wrong checksums", "(none)", " ".join(wrong_sums) or "(none)"),
            ("pom", "modelVersion groupId artifactId version packaging name description",
             " ".join(e.tag.split("}")[1] for e in pom)),
            ("pom coordinates", f"{group}:{artifact}:{version}:jar",
             ":".join(pom.find(f"m:{t}", ns).text for t in ("groupId", "artifactId", "version", "packaging"))),
            ("metadata", f"{group}:{artifact} release {version}, versions {version}",
             f"{metadata.findtext('groupId')}:{metadata.findtext('artifactId')} release "
             f"{metadata.findtext('versioning/release')}, versions "
             f"{' '.join(v.text for v in metadata.findall('versioning/versions/version'))}"),
            ("the same bytes as dist's", "jar SBOM", " ".join(same) or "(neither)"),
            ("sources compile to the jar's", " ".join(CLASSES), " ".join(compiled) or "(nothing)"),
            ("javadoc", f"org.movrek.nativeflush/{CLASS}.html", " ".join(pages) or "(no page of the class)"),
        ]
        if signed:
            env = dict(os.environ, GNUPGHOME=f"{work}/gnupg")
            verify = lambda f: subprocess.run([gpg, "--batch", "--verify", f"{f}.asc", f], env=env,  # noqa: E731
                                              capture_output=True).returncode
            bad = [f for f in files if not f.endswith(".asc") and verify(f)]
            with open(f"{base}.jar", "r+b") as altered:
                altered.write(bytes([read(f"{base}.jar")[0] ^ 1]))
            facts += [("unknown key", "refused", unknown_key),
                      ("signatures that fail", "(none)", " ".join(bad) or "(none)"),
                      ("jar with one byte altered", "refused", "refused" if verify(f"{base}.jar") else "verifies")]
            subprocess.run([os.path.join(os.path.dirname(gpg), "gpgconf"), "--kill", "gpg-agent"], env=env)
        return compare(repo, facts)


if __name__ == "__main__":
    sys.exit(main())

#!/usr/bin/env python3
"""Checks dist/maven/, the Maven repository that cmake/maven.cmake makes,
from its files: exactly the files of one release, every checksum right, the
POM and maven-metadata.xml well-formed and naming the coordinates, the POM
with nothing beyond them but name and description, the jar the same bytes as
dist/'s, the sources jar compiling to the jar's two classes, the javadoc jar
holding the class's page. Prints what it found, one fact per line, and
compares it with what must be.

  check_repository.py JDK DIST GROUP ARTIFACT VERSION
  check_repository.py --signed GPG CMAKE JDK DIST GROUP ARTIFACT VERSION
With --signed, it first makes the repository again from DIST's jar, in a
temporary folder, with cmake/maven.cmake: once with NATIVEFLUSH_SIGNING_KEY
naming no key in the keyring, which must stop it, then with a throwaway key
in a temporary GNUPGHOME; every .asc must verify, and fail once a byte of its
file is altered.
"""
import hashlib
import os
import shutil
import subprocess
import sys
import tempfile
import xml.etree.ElementTree as ET
import zipfile

sys.path.insert(0, os.path.join(os.path.dirname(__file__), "..", "abi"))
from readout import compare  # noqa: E402

SUMS = {"md5": hashlib.md5, "sha1": hashlib.sha1, "sha256": hashlib.sha256, "sha512": hashlib.sha512}
POM = "{http://maven.apache.org/POM/4.0.0}"
CLASS = "org/movrek/nativeflush/NativeflushLibrary"
ROOT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..")


def text(tree, path):
    return " ".join(e.text for e in tree.findall(path))


def sign(gpg, cmake, dist, version, work):
    """Makes WORK/dist/maven from DIST's jar and the sources as built, signed by a new key."""
    os.makedirs(f"{work}/dist")
    shutil.copy(f"{dist}/nativeflush-{version}.jar", f"{work}/dist")
    shutil.copytree(f"{ROOT}/build/jar/src", f"{work}/jar/src")
    env = dict(os.environ, GNUPGHOME=f"{work}/gnupg")
    os.mkdir(env["GNUPGHOME"], 0o700)
    make = [cmake, f"-DDIST={work}/dist", f"-DWORK={work}/jar", f"-DVERSION={version}",
            "-P", f"{ROOT}/cmake/maven.cmake"]
    refused = subprocess.run(make, env=dict(env, NATIVEFLUSH_SIGNING_KEY="nobody"), capture_output=True, text=True)
    subprocess.run([gpg, "--batch", "--passphrase", "", "--quick-gen-key", "throwaway", "ed25519", "sign", "never"],
                   env=env, check=True, capture_output=True)
    subprocess.run(make, env=dict(env, NATIVEFLUSH_SIGNING_KEY="throwaway"), check=True, capture_output=True)
    return env, "refused" if refused.returncode and "holds no secret key by that name" in refused.stderr else \
        f"not refused: {refused.returncode} {refused.stderr.strip()}"


def main():
    signed = sys.argv[1] == "--signed"
    if signed:
        gpg, cmake = sys.argv[2:4]
    jdk, dist, group, artifact, version = sys.argv[4 if signed else 1:]
    with tempfile.TemporaryDirectory() as work:
        if signed:
            env, unknown_key = sign(gpg, cmake, dist, version, work)
            repo = f"{work}/dist/maven"
        else:
            repo = f"{dist}/maven"
        folder = f"{repo}/{group.replace('.', '/')}/{artifact}"
        base = f"{folder}/{version}/{artifact}-{version}"
        files = [f"{base}.jar", f"{base}.pom", f"{base}-sources.jar", f"{base}-javadoc.jar",
                 f"{folder}/maven-metadata.xml"]
        files += [f"{f}.asc" for f in files] if signed else []
        expected_files = sorted(os.path.relpath(f, repo) for f in files + [f"{f}.{s}" for f in files for s in SUMS])
        found_files = sorted(os.path.relpath(os.path.join(d, f), repo) for d, _, fs in os.walk(repo) for f in fs)
        wrong_sums = [f"{f}.{s}" for f in files for s, h in SUMS.items()
                      if os.path.exists(f"{f}.{s}") and open(f"{f}.{s}").read() != h(open(f, "rb").read()).hexdigest()]

        pom = ET.parse(f"{base}.pom").getroot()
        metadata = ET.parse(f"{folder}/maven-metadata.xml").getroot()
        jar = zipfile.ZipFile(f"{base}.jar")
        sources = zipfile.ZipFile(f"{base}-sources.jar")
        sources.extractall(f"{work}/sources")
        javac = f"{jdk}/bin/javac"
        src = f"{work}/sources/{CLASS}.java"
        subprocess.run([javac, "--release", "8", "-d", f"{work}/8", src], check=True)
        subprocess.run([javac, "--release", "9", "-d", f"{work}/9", f"{work}/sources/module-info.java", src],
                       check=True)
        # Jarred as cmake/jar.cmake does: the jar tool adds the module's packages to module-info.class.
        subprocess.run([f"{jdk}/bin/jar", "--create", "--file", f"{work}/again.jar", "-C", f"{work}/8",
                        f"{CLASS}.class", "--release", "9", "-C", f"{work}/9", "module-info.class"], check=True)
        again = zipfile.ZipFile(f"{work}/again.jar")
        compiled = [name for name in (f"{CLASS}.class", "META-INF/versions/9/module-info.class")
                    if jar.read(name) == again.read(name)]
        found = [
            f"files: {' '.join(found_files)}",
            f"wrong checksums: {' '.join(wrong_sums) or '(none)'}",
            f"pom: {' '.join(e.tag.replace(POM, '') for e in pom)}",
            f"pom coordinates: {text(pom, POM + 'groupId')}:{text(pom, POM + 'artifactId')}:"
            f"{text(pom, POM + 'version')}:{text(pom, POM + 'packaging')}",
            f"metadata: {text(metadata, 'groupId')}:{text(metadata, 'artifactId')} release "
            f"{text(metadata, 'versioning/release')}, versions {text(metadata, 'versioning/versions/version')}",
            f"jar: {'the same bytes as dist' if open(f'{base}.jar', 'rb').read() == open(f'{dist}/{artifact}-{version}.jar', 'rb').read() else 'differs from dist'}",
            f"sources compile to the jar's: {' '.join(compiled) or '(nothing)'}",
            f"javadoc: {' '.join(n for n in zipfile.ZipFile(f'{base}-javadoc.jar').namelist() if n.endswith('/NativeflushLibrary.html'))}",
        ]
        expected = [
            f"files: {' '.join(expected_files)}",
            "wrong checksums: (none)",
            "pom: modelVersion groupId artifactId version packaging name description",
            f"pom coordinates: {group}:{artifact}:{version}:jar",
            f"metadata: {group}:{artifact} release {version}, versions {version}",
            "jar: the same bytes as dist",
            f"sources compile to the jar's: {CLASS}.class META-INF/versions/9/module-info.class",
            f"javadoc: org.movrek.nativeflush/{CLASS}.html",
        ]
        if signed:
            verify = [gpg, "--batch", "--verify"]
            bad = [f for f in files if f.endswith(".asc") and subprocess.run(
                verify + [f, f[:-4]], env=env, capture_output=True).returncode]
            with open(f"{base}.jar", "r+b") as altered:
                byte = altered.read(1)
                altered.seek(0)
                altered.write(bytes([byte[0] ^ 1]))
            still = subprocess.run(verify + [f"{base}.jar.asc", f"{base}.jar"], env=env, capture_output=True)
            subprocess.run([os.path.join(os.path.dirname(gpg), "gpgconf"), "--kill", "gpg-agent"], env=env)
            found += [f"unknown key: {unknown_key}", f"signatures that fail: {' '.join(bad) or '(none)'}",
                      f"jar with one byte altered: {'refused' if still.returncode else 'verifies'}"]
            expected += ["unknown key: refused", "signatures that fail: (none)", "jar with one byte altered: refused"]
        return compare(repo, expected, found)


if __name__ == "__main__":
    sys.exit(main())

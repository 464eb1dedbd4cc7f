#!/usr/bin/python3
"""Writes the two records of a release beside it in DIST:

  release_records.py sbom DIST GROUP ARTIFACT VERSION
      DIST/ARTIFACT-VERSION.cdx.json, a CycloneDX 1.6 SBOM: the jar as the
      main component, with its Maven purl and hashes; each deliverable in it
      as a nested component, with its hashes, platform, JVMs, export (its row
      in cmake/deliverables.cmake) and its imports by library, read from the
      file with pyelftools, pefile or macholib; and in formulation the
      packages that build dist/, with the versions installed.
  release_records.py provenance DIST ARTIFACT VERSION COMMAND...
      DIST/ARTIFACT-VERSION.intoto.json, an in-toto Statement v1 with an SLSA
      Provenance v1 predicate: every other file under DIST with its SHA-256;
      the command, whether NATIVEFLUSH_SIGNING_KEY was set, the source's git
      commit and whether its work tree was clean; and the same packages as
      the SBOM's formulation.

The packages: those scripts/bootstrap.sh lists as building dist/, with the
development packages (Section devel: the real compilers and binutils behind
Debian's default-version packages) they depend on, from this machine's dpkg
database; and the pinned packages of each Debian tree the build reads, from
that tree's database or, for the unpacked s390x root, its list of versions.
Same inputs, same bytes: no time, host or random number; the SBOM's serial
number is derived from its content.
"""
import hashlib
import json
import os
import re
import subprocess
import sys
import uuid
import zipfile
from urllib.parse import quote

import pefile
from elftools.elf.elffile import ELFFile
from macholib import mach_o
from macholib.MachO import MachO
from macholib.SymbolTable import SymbolTable

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
# The build's own names, which have no address of their own to be found at.
BUILD_TYPE = "tag:movrek.org,2026:nativeflush/scripts/build.sh"
BUILDER = "tag:movrek.org,2026:nativeflush/builder/self-asserted"


def run(*command, cwd=ROOT):
    done = subprocess.run(command, cwd=cwd, capture_output=True, text=True)
    if done.returncode:
        sys.exit(f"release_records.py: {' '.join(command)} failed in {cwd}: {done.stderr.strip()}")
    return done.stdout


def external(name):
    return run("cmake", "-D", f"print={name}", "-P", "cmake/externals.cmake").strip()


def digests(path, algorithms=("sha256", "sha512")):
    with open(path, "rb") as f:
        data = f.read()
    return {a: hashlib.new(a, data).hexdigest() for a in algorithms}


def elf_imports(path):
    """{library: [symbol@version]}: a versioned import names its library; an
    unversioned one is the one DT_NEEDED's, or (no library) if there are several."""
    elf = ELFFile(open(path, "rb"))
    needed = [t.needed for t in elf.get_section_by_name(".dynamic").iter_tags() if t.entry.d_tag == "DT_NEEDED"]
    versions, versym = {}, elf.get_section_by_name(".gnu.version")
    for need, entries in elf.get_section_by_name(".gnu.version_r").iter_versions():
        versions.update({e["vna_other"]: (need.name, e.name) for e in entries})
    found = {}
    for i, symbol in enumerate(elf.get_section_by_name(".dynsym").iter_symbols()):
        if i and symbol["st_shndx"] == "SHN_UNDEF":
            library, version = versions.get(versym.get_symbol(i)["ndx"],
                                            (needed[0] if len(needed) == 1 else "(no library)", None))
            found.setdefault(library, []).append(f"{symbol.name}@{version}" if version else symbol.name)
    return found


def pe_imports(path):
    pe = pefile.PE(path)
    return {e.dll.decode(): [i.name.decode() if i.name else f"#{i.ordinal}" for i in e.imports]
            for e in getattr(pe, "DIRECTORY_ENTRY_IMPORT", [])}


def macho_imports(path):
    """{library (slice): [symbol]}, by each undefined symbol's two-level ordinal."""
    macho, found = MachO(path), {}
    for header in macho.headers:
        arch = mach_o.CPU_TYPE_NAMES.get(header.header.cputype, str(header.header.cputype)).lower()
        libraries = [data.rstrip(b"\0").decode() for lc, _, data in header.commands
                     if lc.cmd in (mach_o.LC_LOAD_DYLIB, mach_o.LC_LOAD_WEAK_DYLIB)]
        for nlist, name in SymbolTable(macho, header).undefsyms:
            ordinal = nlist.n_desc >> 8 & 0xFF
            library = libraries[ordinal - 1] if 0 < ordinal <= len(libraries) else f"ordinal {ordinal}"
            found.setdefault(f"{library} ({arch})", []).append(name.decode())
    return found


def imports(path):
    with open(path, "rb") as f:
        magic = f.read(4)
    if magic == b"\x7fELF":
        return elf_imports(path)
    if magic[:2] == b"MZ":
        return pe_imports(path)
    if magic in (b"\xca\xfe\xba\xbe", b"\xce\xfa\xed\xfe", b"\xcf\xfa\xed\xfe"):  # fat, 32- and 64-bit Mach-O
        return macho_imports(path)
    sys.exit(f"release_records.py: {path} starts with {magic.hex()}; expected an ELF, PE or Mach-O file")


def purl(name, version, arch, release):
    return f"pkg:deb/debian/{name}@{quote(version, safe=':~')}?arch={arch}&distro={release}"


def host_packages(names):
    """Each listed package and the Section devel packages it depends on, as (name, version, arch)."""
    fields = "${Package}\t${Architecture}\t${Version}\t${Section}\t${Depends}, ${Pre-Depends}\t${Provides}\t" \
             "${db:Status-Abbrev}\n"
    installed, providers = {}, {}
    for line in run("dpkg-query", "-W", "-f", fields).splitlines():
        name, arch, version, section, depends, provides, status = line.split("\t")
        if status.startswith("ii"):
            installed[name, arch] = (version, section, depends)
            for p in filter(None, (p.strip().split(" ")[0] for p in provides.split(","))):
                providers.setdefault(p, (name, arch))
    native = run("dpkg", "--print-architecture").strip()

    def find(name, arch):
        name, _, qualifier = name.partition(":")
        arch = qualifier if qualifier not in ("", "any") else arch
        return next((k for k in ((name, arch), (name, "all"), (name, native)) if k in installed),
                    providers.get(name))

    wanted = [find(n, native) for n in names]
    if None in wanted:
        sys.exit(f"release_records.py: {names[wanted.index(None)]} is not installed; "
                 "expected every package that scripts/bootstrap.sh lists as building dist/")
    found, todo = set(), list(wanted)
    while todo:
        key = todo.pop()
        if key in found or (key not in wanted and installed[key][1] != "devel"):
            continue
        found.add(key)
        for alternatives in installed[key][2].split(","):
            options = [find(re.match(r"\s*([^\s(]*)", a).group(1), key[1]) for a in alternatives.split("|")]
            todo += [o for o in options if o][:1]
    return sorted((name, installed[name, arch][0], arch) for name, arch in found)


def tree_packages(root, arch, entries):
    """The pinned packages of a tree as (name, version, arch), versions as installed there."""
    if arch != "-":
        with open(f"{root}/.nativeflush-versions") as f:
            versions = dict(line.split() for line in f)
        names = [e.split("=")[0] for e in entries]
        missing = " ".join(n for n in names if n not in versions)
        if missing:
            sys.exit(f"release_records.py: {root}/.nativeflush-versions lacks {missing}; "
                     "expected every package scripts/bootstrap.sh unpacked there")
        return [(n, versions[n], arch) for n in names]
    return [tuple(run("dpkg-query", f"--admindir={root}/var/lib/dpkg", "-W", "-f", "${Package}\t${Version}\t"
                      "${Architecture}", e.split("=")[0]).split("\t")) for e in entries]


def build_packages():
    """Every package that builds dist/, as (purl, name, version)."""
    roots = {}
    for line in run("scripts/bootstrap.sh", "--print-build-packages").splitlines():
        root, release, arch, entry = line.split(" ")
        roots.setdefault((root, release, arch), []).append(entry)
    with open("/etc/os-release") as f:
        host = re.search(r"^VERSION_CODENAME=(.*)$", f.read(), re.M).group(1)
    found = []
    for (root, release, arch), entries in roots.items():
        packages = host_packages(entries) if release == "host" else tree_packages(root, arch, entries)
        found += [(purl(n, v, a, host if release == "host" else release), n, v) for n, v, a in packages]
    return found


def hashes(path):
    return [{"alg": a.upper().replace("SHA", "SHA-"), "content": h} for a, h in digests(path).items()]


def sbom(dist, group, artifact, version):
    jar = f"{dist}/{artifact}-{version}.jar"
    # Each file by its entry in the jar, which must hold the same bytes.
    entries = {os.path.basename(e.filename): e.filename for e in zipfile.ZipFile(jar).infolist()}
    natives = []
    for line in run("cmake", "-P", "cmake/list-deliverables.cmake").splitlines():
        _, platform, file, export, jvms = line.split("\t")
        path = f"{dist}/{file}"
        if not os.path.exists(path):
            continue  # not built this time
        with open(path, "rb") as f:
            if file not in entries or zipfile.ZipFile(jar).read(entries[file]) != f.read():
                sys.exit(f"release_records.py: {jar} holds no entry of {file}'s bytes; expected the file of {path}")
        properties = [("platform", platform), ("jvm", jvms), ("export", export)]
        properties += [("imports", f"{library}: {' '.join(sorted(symbols))}")
                       for library, symbols in sorted(imports(path).items())]
        natives.append({"type": "library", "bom-ref": entries[file],
                        "name": file, "version": version, "hashes": hashes(path),
                        "properties": [{"name": f"nativeflush:{k}", "value": v} for k, v in properties]})
    main = f"pkg:maven/{group}/{artifact}@{version}?type=jar"
    bom = {
        "version": 1,
        "metadata": {
            "lifecycles": [{"phase": "build"}],
            "component": {"type": "library", "bom-ref": main, "group": group, "name": artifact, "version": version,
                          "purl": main, "hashes": hashes(jar), "components": natives},
        },
        "dependencies": [{"ref": main, "dependsOn": []}],
        # Debian names its library packages lib*.
        "formulation": [{"bom-ref": "formulation", "components": [
            {"type": "library" if name.startswith("lib") else "application", "bom-ref": ref, "name": name,
             "version": package_version, "purl": ref} for ref, name, package_version in build_packages()]}],
    }
    # Derived from the rest of the SBOM: the same content, the same serial number.
    serial = uuid.uuid5(uuid.NAMESPACE_URL, f"{main}#{hashlib.sha256(json.dumps(bom).encode()).hexdigest()}")
    write(f"{dist}/{artifact}-{version}.cdx.json",
          {"bomFormat": "CycloneDX", "specVersion": "1.6", "serialNumber": f"urn:uuid:{serial}", **bom})


def source():
    """The source as git knows it, or that it is no git checkout."""
    if not os.path.exists(f"{ROOT}/.git"):
        return {"git": "none: the source was not a git checkout"}, []
    git = external("NATIVEFLUSH_GIT")
    commit = run(git, "rev-parse", "HEAD").strip()
    # Any change to a tracked file, or a file git does not ignore, counts.
    clean = run(git, "status", "--porcelain") == ""
    return {"gitCommit": commit, "workTreeClean": clean}, [{"name": "source", "digest": {"gitCommit": commit}}]


def provenance(dist, artifact, version, command):
    name = f"{artifact}-{version}.intoto.json"
    files = sorted(os.path.relpath(os.path.join(d, f), dist) for d, _, fs in os.walk(dist) for f in fs)
    described, resolved = source()
    signed = bool(os.environ.get("NATIVEFLUSH_SIGNING_KEY"))
    write(f"{dist}/{name}", {
        "_type": "https://in-toto.io/Statement/v1",
        "subject": [{"name": f, "digest": digests(f"{dist}/{f}", ("sha256",))} for f in files
                    if f not in (name, f"{name}.asc")],
        "predicateType": "https://slsa.dev/provenance/v1",
        "predicate": {
            "buildDefinition": {
                "buildType": BUILD_TYPE,
                "externalParameters": {"command": command, "source": described, "signed": signed},
                "resolvedDependencies": resolved + [{"uri": ref} for ref, _, _ in build_packages()],
            },
            "runDetails": {"builder": {"id": BUILDER}},
        },
    })


def write(path, record):
    with open(path, "w") as f:
        f.write(json.dumps(record, indent=2) + "\n")


if __name__ == "__main__":
    kind, arguments = sys.argv[1], sys.argv[2:]
    if kind == "sbom" and len(arguments) == 4:
        sbom(*arguments)
    elif kind == "provenance" and len(arguments) >= 4:
        provenance(*arguments[:3], arguments[3:])
    else:
        sys.exit(__doc__)

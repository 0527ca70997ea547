"""The install rules and the Debian package.

`cmake --install` into a temporary prefix must give the executable; a menu entry that starts that
executable and names that icon; an icon that is a scalable SVG image; a software-centre
description whose id and launchable match the menu entry; a manual page and a changelog
compressed as Debian wants them (gzip -9n), the changelog's latest entry for this version; and a
machine-readable copyright file that puts the program under GPL-3+. The same checks are run on
copies of the installed tree with one fault each, and must find it.

cpack then builds the Debian package from the same build: it must hold exactly the installed
files, under /usr, and lintian must report no error and no warning on it. Copies of the package
with one fault each must fail.

Usage: install_check.py --cmake C --cpack C --build-dir D --version V --bindir B --datadir D
       --mandir M --executable E [--readelf R]
(bindir, datadir and mandir relative to the prefix, as configured through GNUInstallDirs;
executable: the program as built)."""
import argparse
import concurrent.futures
import gzip
import hashlib
import io
import os
import re
import shlex
import shutil
import stat
import subprocess
import sys
import tarfile
import tempfile
import unittest
import xml.etree.ElementTree as ET

_arguments = argparse.ArgumentParser()
for _name in ["cmake", "cpack", "build-dir", "version", "bindir", "datadir", "mandir",
              "executable"]:
    _arguments.add_argument("--" + _name, required=True)
_arguments.add_argument("--readelf", default="")
ARGS = _arguments.parse_args()
CMAKE, CPACK, BUILD_DIR, VERSION = ARGS.cmake, ARGS.cpack, ARGS.build_dir, ARGS.version
BINDIR, DATADIR, MANDIR = ARGS.bindir, ARGS.datadir, ARGS.mandir
# The executable as built, before the package's strip.
BUILT_EXECUTABLE = ARGS.executable
READELF = ARGS.readelf or None
SOURCE_DIR = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))

PROGRAM = "dittix"
DESKTOP = os.path.join(DATADIR, "applications", PROGRAM + ".desktop")
ICON = os.path.join(DATADIR, "icons", "hicolor", "scalable", "apps", PROGRAM + ".svg")
EXECUTABLE = os.path.join(BINDIR, PROGRAM)
METAINFO = os.path.join(DATADIR, "metainfo", PROGRAM + ".metainfo.xml")
MANUAL = os.path.join(MANDIR, "man1", PROGRAM + ".1.gz")
DOC = os.path.join(DATADIR, "doc", PROGRAM)
COPYRIGHT = os.path.join(DOC, "copyright")
CHANGELOG = os.path.join(DOC, "changelog.gz")
# The Debian package installs under this prefix.
PACKAGE_PREFIX = "usr"

# The main categories of the freedesktop menu: an entry needs one to land in a menu.
MAIN_CATEGORIES = {"AudioVideo", "Audio", "Video", "Development", "Education", "Game",
                   "Graphics", "Network", "Office", "Science", "Settings", "System", "Utility"}
SVG_NS = "{http://www.w3.org/2000/svg}"
DEP5_FORMAT = "https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/"
COPYRIGHT_HOLDER = "Dittix developers"
# The program's licence, as the copyright file and the software-centre description name it.
DEBIAN_LICENCE = "GPL-3+"
SPDX_LICENCE = "GPL-3.0-or-later"
# The validator would have the component's id be a reverse domain name. The project has no domain
# of its own to name it after, so the id is the menu entry's plain name; that hint is shown but
# does not fail the check.
APPSTREAM_OVERRIDE = "--override=cid-desktopapp-is-not-rdns=info"


def read_desktop_entry(path):
    """The groups of a desktop entry file as {group: {key: value}}; a malformed line or a key
    given twice in a group raises ValueError."""
    groups, current = {}, None
    with open(path, encoding="utf-8") as f:
        for number, raw in enumerate(f, 1):
            line = raw.rstrip("\n")
            if not line.strip() or line.startswith("#"):
                continue
            if line.startswith("[") and line.endswith("]"):
                current = groups.setdefault(line[1:-1], {})
                continue
            if current is None or "=" not in line:
                raise ValueError(f"line {number} is neither a group, a key nor a comment")
            key, value = (part.strip() for part in line.split("=", 1))
            if key in current:
                raise ValueError(f"key {key} given twice")
            current[key] = value
    return groups


def check_desktop_entry(prefix):
    errors = []
    try:
        groups = read_desktop_entry(os.path.join(prefix, DESKTOP))
    except OSError as e:
        return [f"desktop entry: cannot read: {e}"]
    except (ValueError, UnicodeDecodeError) as e:
        return [f"desktop entry: {e}"]
    entry = groups.get("Desktop Entry")
    if entry is None:
        return ["desktop entry: no [Desktop Entry] group"]
    for key, wanted in [("Type", "Application"), ("Name", "Dittix"), ("Terminal", "false")]:
        if entry.get(key) != wanted:
            errors.append(f"desktop entry: {key}={entry.get(key)!r}, expected {wanted!r}")
    command = entry.get("Exec", "").split()
    if not command:
        errors.append("desktop entry: no Exec")
    elif not os.access(os.path.join(prefix, BINDIR, command[0]), os.X_OK):
        errors.append(f"desktop entry: Exec starts {command[0]!r}, which is not installed in "
                      f"{BINDIR}")
    icon = entry.get("Icon", "")
    if not os.path.isfile(os.path.join(prefix, DATADIR, "icons", "hicolor", "scalable", "apps",
                                       icon + ".svg")):
        errors.append(f"desktop entry: Icon={icon!r} names no installed scalable icon")
    categories = [c for c in entry.get("Categories", "").split(";") if c]
    if not MAIN_CATEGORIES.intersection(categories):
        errors.append(f"desktop entry: no main category among {categories}")
    if not entry.get("GenericName") or not entry.get("Comment"):
        errors.append("desktop entry: GenericName and Comment are needed in the menu")
    validator = shutil.which("desktop-file-validate")
    if validator:
        result = subprocess.run([validator, os.path.join(prefix, DESKTOP)],
                                capture_output=True, text=True)
        if result.returncode != 0 or "error:" in result.stdout + result.stderr:
            errors.append(f"desktop-file-validate: {(result.stdout + result.stderr).strip()}")
    return errors


def check_icon(prefix):
    try:
        root = ET.parse(os.path.join(prefix, ICON)).getroot()
    except OSError as e:
        return [f"icon: cannot read: {e}"]
    except ET.ParseError as e:
        return [f"icon: not XML: {e}"]
    errors = []
    if root.tag != SVG_NS + "svg":
        errors.append(f"icon: the root element is {root.tag}, not an SVG image")
    try:
        _, _, width, height = (float(v) for v in root.get("viewBox", "").replace(",", " ").split())
        if width <= 0 or width != height:
            errors.append(f"icon: viewBox {root.get('viewBox')} is not a square")
    except ValueError:
        errors.append(f"icon: viewBox {root.get('viewBox')!r} is not four numbers")
    # An icon theme copies the file alone: it must not lean on other files.
    for element in root.iter():
        for name, value in element.attrib.items():
            if name.endswith("href") and not value.startswith("#"):
                errors.append(f"icon: refers to {value}")
    return errors


def check_executable(prefix):
    path = os.path.join(prefix, EXECUTABLE)
    if not os.path.isfile(path) or not os.stat(path).st_mode & stat.S_IXUSR:
        return [f"{EXECUTABLE} is not an installed executable"]
    if READELF is None:
        return []
    dynamic = subprocess.run([READELF, "-d", path], capture_output=True, text=True, check=True)
    return [f"{EXECUTABLE}: {line.strip()}" for line in dynamic.stdout.splitlines()
            if ("RPATH" in line or "RUNPATH" in line)
            and (os.path.realpath(BUILD_DIR) in line or SOURCE_DIR in line)]


def read_debian_gzip(prefix, relative, what):
    """The text of a file that Debian wants compressed with gzip -9n (the best compression, no
    file name and no time stamp in the archive, so that the same text gives the same bytes), or
    None when it cannot be read; and the errors found in how it was compressed."""
    try:
        with open(os.path.join(prefix, relative), "rb") as f:
            data = f.read()
    except OSError as e:
        return None, [f"{what}: cannot read: {e}"]
    if data[:2] != b"\x1f\x8b" or len(data) < 10:
        return None, [f"{what}: not gzip-compressed"]
    errors = []
    flags, mtime, extra_flags = data[3], int.from_bytes(data[4:8], "little"), data[8]
    if flags & 0x08:
        errors.append(f"{what}: the archive holds a file name (gzip -n leaves it out)")
    if mtime != 0:
        errors.append(f"{what}: the archive holds a time stamp (gzip -n leaves it out)")
    if extra_flags != 2:
        errors.append(f"{what}: not compressed with gzip -9")
    try:
        return gzip.decompress(data).decode("utf-8"), errors
    except (OSError, EOFError, UnicodeDecodeError) as e:
        return None, errors + [f"{what}: cannot decompress: {e}"]


def check_changelog(prefix):
    text, errors = read_debian_gzip(prefix, CHANGELOG, "changelog")
    if text is None:
        return errors
    first = text.splitlines()[0] if text else ""
    entry = re.fullmatch(r"(\S+) \(([^()\s]+)\) [^;]+; urgency=\w+", first)
    if entry is None:
        return errors + [f"changelog: the first line {first!r} does not open an entry"]
    if entry.group(1) != PROGRAM:
        errors.append(f"changelog: the latest entry is for the package {entry.group(1)}")
    if entry.group(2) != VERSION:
        errors.append(f"changelog: the latest entry is for version {entry.group(2)}, the "
                      f"package's is {VERSION}")
    trailer = re.compile(r" -- [^<>]+ <[^<>@\s]+@[^<>\s]+>  \w{3}, \d{1,2} \w{3} \d{4} "
                         r"\d{2}:\d{2}:\d{2} [+-]\d{4}")
    if not any(trailer.fullmatch(line) for line in text.splitlines()):
        errors.append("changelog: no entry ends with a ' -- name <address>  date' line")
    return errors


def check_manual(prefix):
    text, errors = read_debian_gzip(prefix, MANUAL, "manual page")
    if text is None:
        return errors
    lines = text.splitlines()
    header = next((shlex.split(line)[1:] for line in lines if line.startswith(".TH ")), [])
    if header[:2] != [PROGRAM.upper(), "1"]:
        errors.append(f"manual page: the header is {header}, expected section 1 of "
                      f"{PROGRAM.upper()}")
    elif header[3:4] != [f"Dittix {VERSION}"]:
        errors.append(f"manual page: the header names {header[3:4]}, expected Dittix {VERSION}")
    sections = [line[4:].strip().strip('"') for line in lines if line.startswith(".SH ")]
    for wanted in ["NAME", "SYNOPSIS", "DESCRIPTION", "FILES", "SEE ALSO"]:
        if wanted not in sections:
            errors.append(f"manual page: no {wanted} section")
    if "NAME" in sections:
        # The whatis line that apropos and lintian read: "name \- summary".
        after = lines[lines.index(next(l for l in lines if l.startswith(".SH NAME"))) + 1]
        if not after.startswith(PROGRAM + " \\- "):
            errors.append(f"manual page: the NAME line {after!r} is not '{PROGRAM} \\- ...'")
    man = shutil.which("man")
    if man is None:
        return errors + ["manual page: man is not installed (lintian brings it)"]
    # As lintian formats it: every warning of the formatter is a fault of the page.
    result = subprocess.run([man, "--warnings", "-E", "UTF-8", "-l", "-Tutf8", "-Z",
                             os.path.join(prefix, MANUAL)], capture_output=True, text=True,
                            env=dict(os.environ, LC_ALL="C.UTF-8", MANROFFSEQ="",
                                     MANWIDTH="80"))
    if result.returncode != 0 or result.stderr.strip():
        errors.append(f"manual page: man says: {result.stderr.strip()}")
    return errors


def check_metainfo(prefix):
    try:
        root = ET.parse(os.path.join(prefix, METAINFO)).getroot()
    except OSError as e:
        return [f"metainfo: cannot read: {e}"]
    except ET.ParseError as e:
        return [f"metainfo: not XML: {e}"]
    errors = []
    desktop_name = os.path.basename(DESKTOP)
    if root.tag != "component" or root.get("type") != "desktop-application":
        errors.append(f"metainfo: the root is {root.tag} of type {root.get('type')}, expected a "
                      f"desktop-application component")
    component_id = root.findtext("id")
    if component_id != desktop_name.removesuffix(".desktop"):
        errors.append(f"metainfo: the id {component_id!r} does not match the menu entry "
                      f"{desktop_name}")
    launchables = [e.text for e in root.findall("launchable") if e.get("type") == "desktop-id"]
    if launchables != [desktop_name]:
        errors.append(f"metainfo: launchable {launchables}, expected [{desktop_name!r}]")
    if root.findtext("project_license") != SPDX_LICENCE:
        errors.append(f"metainfo: project_license {root.findtext('project_license')!r}, "
                      f"expected {SPDX_LICENCE!r}")
    if not root.findtext("metadata_license"):
        errors.append("metainfo: no metadata_license")
    releases = [e.get("version") for e in root.iter("release")]
    if releases[:1] != [VERSION]:
        errors.append(f"metainfo: the latest release is {releases[:1]}, the package's version "
                      f"is {VERSION}")
    if PROGRAM not in [e.text for e in root.iter("binary")]:
        errors.append(f"metainfo: does not say that it provides the binary {PROGRAM}")
    validator = shutil.which("appstreamcli")
    if validator is None:
        return errors + ["metainfo: appstreamcli is not installed (package appstream)"]
    # The whole tree: the description and the menu entry it launches, as a software centre
    # reads them.
    result = subprocess.run([validator, "validate-tree", "--no-net", APPSTREAM_OVERRIDE, prefix],
                            capture_output=True, text=True)
    if result.returncode != 0:
        errors.append(f"appstreamcli: {(result.stdout + result.stderr).strip()}")
    return errors


def read_deb822(text):
    """The paragraphs of a Debian control-style file as [{field: value}]; the lines that
    continue a field are joined to its value by newlines."""
    paragraphs, current, field = [], {}, None
    for number, line in enumerate(text.splitlines(), 1):
        if line.startswith("#"):
            continue
        if not line.strip():
            if current:
                paragraphs.append(current)
            current, field = {}, None
        elif line[0] in " \t":
            if field is None:
                raise ValueError(f"line {number} continues no field")
            current[field] += "\n" + line.strip()
        elif ":" in line:
            field, value = (part.strip() for part in line.split(":", 1))
            if field in current:
                raise ValueError(f"field {field} given twice in a paragraph")
            current[field] = value
        else:
            raise ValueError(f"line {number} is neither a field nor its continuation")
    if current:
        paragraphs.append(current)
    return paragraphs


def check_copyright(prefix):
    try:
        with open(os.path.join(prefix, COPYRIGHT), encoding="utf-8") as f:
            paragraphs = read_deb822(f.read())
    except OSError as e:
        return [f"copyright: cannot read: {e}"]
    except (ValueError, UnicodeDecodeError) as e:
        return [f"copyright: {e}"]
    if not paragraphs or paragraphs[0].get("Format") != DEP5_FORMAT:
        return [f"copyright: the Format field does not name {DEP5_FORMAT}"]
    errors = []
    files = [p for p in paragraphs[1:] if "Files" in p]
    # A licence's text: in a paragraph of its own, or under its name in a files paragraph.
    texts = {}
    for p in paragraphs[1:]:
        name, _, text = p.get("License", "").partition("\n")
        if text:
            texts[name.strip()] = text
    for p in files:
        name = p.get("License", "").split("\n")[0].strip()
        if not p.get("Copyright") or not name:
            errors.append(f"copyright: Files: {p['Files']} lacks a Copyright or License field")
        elif name not in texts:
            errors.append(f"copyright: the licence {name} of Files: {p['Files']} has no text")
    program = next((p for p in files if p["Files"].split() == ["*"]), None)
    if program is None:
        return errors + ["copyright: no paragraph for Files: *"]
    name = program.get("License", "").split("\n")[0].strip()
    if name != DEBIAN_LICENCE:
        errors.append(f"copyright: Files: * is under {name!r}, expected {DEBIAN_LICENCE}")
    if COPYRIGHT_HOLDER not in program.get("Copyright", ""):
        errors.append(f"copyright: Files: * names no copyright of {COPYRIGHT_HOLDER}")
    if "/usr/share/common-licenses/GPL-3" not in texts.get(DEBIAN_LICENCE, ""):
        errors.append("copyright: the GPL-3+ text does not point to "
                      "/usr/share/common-licenses/GPL-3")
    return errors


def check_install(prefix):
    return (check_executable(prefix) + check_desktop_entry(prefix) + check_icon(prefix)
            + check_metainfo(prefix) + check_manual(prefix) + check_changelog(prefix)
            + check_copyright(prefix))


def install(prefix):
    subprocess.run([CMAKE, "--install", BUILD_DIR, "--prefix", prefix], check=True,
                   stdout=subprocess.DEVNULL)


def replace_in(relative, old, new):
    def fault(prefix):
        path = os.path.join(prefix, relative)
        with open(path, encoding="utf-8") as f:
            text = f.read()
        if old not in text:
            raise AssertionError(f"{relative} holds no {old!r} to replace")
        with open(path, "w", encoding="utf-8") as f:
            f.write(text.replace(old, new, 1))
    return fault


def remove(relative):
    return lambda prefix: os.remove(os.path.join(prefix, relative))


def recompress(relative, old=None, new=None, level=9, mtime=0, name=""):
    """Compresses the gzipped file `relative` again: its text with `old` replaced by `new`, at
    gzip level `level`, with the time stamp `mtime` and the file name `name` in the header."""
    def fault(prefix):
        path = os.path.join(prefix, relative)
        with gzip.open(path, "rt", encoding="utf-8") as f:
            text = f.read()
        if old is not None:
            if old not in text:
                raise AssertionError(f"{relative} holds no {old!r} to replace")
            text = text.replace(old, new, 1)
        with open(path, "wb") as raw, gzip.GzipFile(filename=name, mode="wb", fileobj=raw,
                                                    compresslevel=level, mtime=mtime) as f:
            f.write(text.encode("utf-8"))
    return fault


def decompress(relative):
    """Leaves the text of the gzipped file `relative` uncompressed under the same name."""
    def fault(prefix):
        path = os.path.join(prefix, relative)
        with gzip.open(path, "rb") as f:
            data = f.read()
        with open(path, "wb") as f:
            f.write(data)
    return fault


def add_file(relative):
    def fault(prefix):
        with open(os.path.join(prefix, relative), "w", encoding="utf-8") as f:
            f.write("notes\n")
    return fault


def copy_over(source, relative):
    return lambda prefix: shutil.copyfile(source, os.path.join(prefix, relative))


def installed_files(prefix):
    """Every file under `prefix`, relative to it."""
    return {os.path.relpath(os.path.join(folder, name), prefix)
            for folder, _, names in os.walk(prefix) for name in names}


def build_package(folder):
    """The Debian package that cpack makes of this build (installed and stripped as for a
    release), written to `folder`."""
    subprocess.run([CPACK, "--config", os.path.join(BUILD_DIR, "CPackConfig.cmake"), "-G", "DEB",
                    "-B", folder], check=True, stdout=subprocess.DEVNULL)
    packages = [name for name in os.listdir(folder) if name.endswith(".deb")]
    if len(packages) != 1:
        raise AssertionError(f"cpack made {packages}, expected one package")
    return os.path.join(folder, packages[0])


def package_files(deb):
    data = subprocess.run(["dpkg-deb", "--fsys-tarfile", deb], capture_output=True,
                          check=True).stdout
    with tarfile.open(fileobj=io.BytesIO(data)) as archive:
        return {os.path.normpath(m.name) for m in archive.getmembers() if not m.isdir()}


def run_lintian(deb):
    """lintian's errors and warnings on the package (its default report: no info tags)."""
    lintian = shutil.which("lintian")
    if lintian is None:
        return ["lintian is not installed (scripts/install-deps.sh installs it)"]
    result = subprocess.run([lintian, "--fail-on", "error,warning", deb], capture_output=True,
                            text=True)
    tags = [line for line in result.stdout.splitlines() if line[:2] in ("E:", "W:")]
    failures = []
    # 0: nothing to report; 2: errors or warnings reported. Anything else is lintian's own fault.
    if result.returncode not in (0, 2) or (result.returncode == 2) != bool(tags):
        failures.append(f"lintian failed (status {result.returncode}): "
                        f"{(result.stdout + result.stderr).strip()}")
    return failures + [f"lintian: {tag}" for tag in tags]


def check_contents(deb, installed):
    """The package must hold exactly the installed files, under /usr."""
    packaged = package_files(deb)
    wanted = {os.path.join(PACKAGE_PREFIX, name) for name in installed}
    return ([f"package: {name} is installed but not in the package"
             for name in sorted(wanted - packaged)]
            + [f"package: {name} is in the package but not installed"
               for name in sorted(packaged - wanted)])


def repack(deb, fault, folder):
    """A copy of the package with `fault` made in its unpacked tree (the control files are in
    DEBIAN/). The checksums follow the change, so that only the fault is left to find."""
    root = os.path.join(folder, "root")
    subprocess.run(["dpkg-deb", "--raw-extract", deb, root], check=True)
    fault(root)
    sums = []
    for name in sorted(installed_files(root)):
        if name.split(os.sep)[0] != "DEBIAN" and not os.path.islink(os.path.join(root, name)):
            with open(os.path.join(root, name), "rb") as f:
                sums.append(f"{hashlib.md5(f.read()).hexdigest()}  {name}\n")
    with open(os.path.join(root, "DEBIAN", "md5sums"), "w") as f:
        f.writelines(sums)
    planted = os.path.join(folder, "planted.deb")
    # Fast compression: the executable of a sanitizer build is large.
    subprocess.run(["dpkg-deb", "-Zgzip", "-z1", "--root-owner-group", "--build", root, planted],
                   check=True, stdout=subprocess.DEVNULL)
    return planted


class InstallTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls._folder = tempfile.TemporaryDirectory()
        cls.prefix = os.path.join(cls._folder.name, "prefix")
        install(cls.prefix)

    @classmethod
    def tearDownClass(cls):
        cls._folder.cleanup()

    def test_installed_tree_passes(self):
        self.assertEqual(check_install(self.prefix), [])

    def test_each_fault_is_found(self):
        # (row name, the fault made in a copy of the installed tree, words the report must hold)
        rows = [
            ("icon_name_differs", replace_in(DESKTOP, "Icon=dittix", "Icon=dittix-key"),
             "Icon='dittix-key'"),
            ("exec_names_other_program", replace_in(DESKTOP, "Exec=dittix", "Exec=dittrix"),
             "'dittrix'"),
            ("runs_in_terminal", replace_in(DESKTOP, "Terminal=false", "Terminal=true"),
             "Terminal"),
            ("only_additional_category",
             replace_in(DESKTOP, "Categories=Education;HamRadio;", "Categories=HamRadio;"),
             "main category"),
            ("key_twice", replace_in(DESKTOP, "Name=Dittix", "Name=Dittix\nName=Dittix"),
             "twice"),
            ("no_entry_group", replace_in(DESKTOP, "[Desktop Entry]", "[Desktop]"),
             "no [Desktop Entry]"),
            ("desktop_entry_missing", remove(DESKTOP), "desktop entry: cannot read"),
            ("icon_missing", remove(ICON), "icon: cannot read"),
            ("executable_missing", remove(EXECUTABLE), EXECUTABLE),
            ("icon_not_xml", replace_in(ICON, "</svg>", ""), "icon: not XML"),
            ("icon_without_viewbox", replace_in(ICON, 'viewBox="', 'data-box="'), "viewBox"),
            ("icon_not_square", replace_in(ICON, 'viewBox="0 0 256 256"', 'viewBox="0 0 256 128"'),
             "not a square"),
            ("icon_other_namespace", replace_in(ICON, 'xmlns="http://www.w3.org/2000/svg"',
                                                'xmlns="http://example.org/drawing"'),
             "not an SVG image"),
            ("icon_links_a_file", replace_in(ICON, "<title>", '<image href="key.png"/><title>'),
             "key.png"),
            # The software-centre description.
            ("metainfo_missing", remove(METAINFO), "metainfo: cannot read"),
            ("metainfo_id_differs_from_menu_entry",
             replace_in(METAINFO, "<id>dittix</id>", "<id>dittix-trainer</id>"),
             "does not match the menu entry"),
            ("metainfo_launches_other_entry",
             replace_in(METAINFO, ">dittix.desktop<", ">dittix-trainer.desktop<"), "launchable"),
            ("metainfo_other_licence",
             replace_in(METAINFO, f"<project_license>{SPDX_LICENCE}<",
                        "<project_license>GPL-2.0-only<"), "project_license"),
            ("metainfo_release_behind",
             replace_in(METAINFO, f'version="{VERSION}"', 'version="0.0.1"'), "latest release"),
            ("metainfo_without_name", replace_in(METAINFO, "<name>Dittix</name>", ""),
             "component-name-missing"),
            # The manual page.
            ("manual_missing", remove(MANUAL), "manual page: cannot read"),
            ("manual_not_compressed", decompress(MANUAL), "manual page: not gzip-compressed"),
            ("manual_other_section", recompress(MANUAL, ".TH DITTIX 1 ", ".TH DITTIX 8 "),
             "section 1"),
            ("manual_unknown_macro", recompress(MANUAL, ".SH FILES\n", ".SH FILES\n.FILELIST\n"),
             "FILELIST"),
            ("manual_without_name_line", recompress(MANUAL, "dittix \\- ", "dittix - "),
             "NAME line"),
            # The changelog.
            ("changelog_missing", remove(CHANGELOG), "changelog: cannot read"),
            ("changelog_not_compressed", decompress(CHANGELOG), "changelog: not gzip-compressed"),
            ("changelog_time_stamped", recompress(CHANGELOG, mtime=1_700_000_000), "time stamp"),
            ("changelog_names_its_file", recompress(CHANGELOG, name="changelog"), "file name"),
            ("changelog_fast_compression", recompress(CHANGELOG, level=1), "gzip -9"),
            ("changelog_version_behind", recompress(CHANGELOG, f"({VERSION})", "(0.0.1)"),
             "version 0.0.1"),
            ("changelog_without_trailer", recompress(CHANGELOG, " -- ", " - "), "' -- name"),
            # The copyright file.
            ("copyright_missing", remove(COPYRIGHT), "copyright: cannot read"),
            ("copyright_free_text", replace_in(COPYRIGHT, f"Format: {DEP5_FORMAT}", "Dittix"),
             "neither a field"),
            ("copyright_other_format", replace_in(COPYRIGHT, "copyright-format/1.0/",
                                                  "copyright-format/0.9/"), "Format"),
            ("copyright_program_other_licence",
             replace_in(COPYRIGHT, f"License: {DEBIAN_LICENCE}\n\n", "License: GPL-2+\n\n"),
             "expected GPL-3+"),
            ("copyright_licence_without_text",
             replace_in(COPYRIGHT, f"\nLicense: {DEBIAN_LICENCE}\n ", "\nLicense: GPL-3\n "),
             "has no text"),
            ("copyright_other_holder",
             replace_in(COPYRIGHT, f"Copyright: 2026 {COPYRIGHT_HOLDER}", "Copyright: 2026 X"),
             "names no copyright"),
            ("copyright_no_common_licence",
             replace_in(COPYRIGHT, "/usr/share/common-licenses/GPL-3", "COPYING"),
             "common-licenses"),
        ]
        def copy_file(source, target):
            # No fault writes into the executable (one removes it): a link spares copying it.
            if os.path.samefile(source, os.path.join(self.prefix, EXECUTABLE)):
                os.link(source, target)
            else:
                shutil.copy2(source, target)

        def planted(row):
            with tempfile.TemporaryDirectory() as folder:
                copy = os.path.join(folder, "prefix")
                shutil.copytree(self.prefix, copy, symlinks=True, copy_function=copy_file)
                row[1](copy)
                return check_install(copy)

        # Two at a time: most of the time goes to the validators run on each copy.
        with concurrent.futures.ThreadPoolExecutor(max_workers=2) as pool:
            reports = list(pool.map(planted, rows))
        for (name, _, reported), errors in zip(rows, reports):
            with self.subTest(name):
                self.assertTrue(any(reported in e for e in errors), errors)


class PackageTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls._folder = tempfile.TemporaryDirectory()
        prefix = os.path.join(cls._folder.name, "prefix")
        install(prefix)
        cls.installed = installed_files(prefix)
        cls.deb = build_package(os.path.join(cls._folder.name, "package"))

    @classmethod
    def tearDownClass(cls):
        cls._folder.cleanup()

    def test_package_holds_the_installed_files(self):
        self.assertEqual(check_contents(self.deb, self.installed), [])

    def test_lintian_reports_nothing(self):
        self.assertEqual(run_lintian(self.deb), [])

    def test_each_fault_is_found(self):
        def contents(deb):
            return check_contents(deb, self.installed)

        # (row name, the fault made in a copy of the package, the check, words its report must
        # hold)
        rows = [
            ("maintainer_at_localhost",
             replace_in(os.path.join("DEBIAN", "control"), "@users.noreply.invalid>",
                        "@localhost>"), run_lintian, "bogus-mail-host"),
            ("copyright_left_out", remove(os.path.join(PACKAGE_PREFIX, COPYRIGHT)), run_lintian,
             "no-copyright-file"),
            ("executable_not_stripped",
             copy_over(BUILT_EXECUTABLE, os.path.join(PACKAGE_PREFIX, EXECUTABLE)), run_lintian,
             "unstripped-binary-or-object"),
            ("metainfo_left_out", remove(os.path.join(PACKAGE_PREFIX, METAINFO)), contents,
             f"{os.path.join(PACKAGE_PREFIX, METAINFO)} is installed but not in the package"),
            ("file_added", add_file(os.path.join(PACKAGE_PREFIX, DOC, "NOTES")), contents,
             f"{os.path.join(PACKAGE_PREFIX, DOC, 'NOTES')} is in the package but not installed"),
        ]

        def planted(row):
            _, fault, check, _ = row
            with tempfile.TemporaryDirectory() as folder:
                return check(repack(self.deb, fault, folder))

        # Two at a time: lintian takes a few seconds on each.
        with concurrent.futures.ThreadPoolExecutor(max_workers=2) as pool:
            reports = list(pool.map(planted, rows))
        for (name, _, _, reported), errors in zip(rows, reports):
            with self.subTest(name):
                self.assertTrue(any(reported in e for e in errors), errors)


if __name__ == "__main__":
    unittest.main(argv=sys.argv[:1], verbosity=2)

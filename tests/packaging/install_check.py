"""The install rules: `cmake --install` into a temporary prefix must give the executable, a menu
entry that starts that executable and names that icon, and an icon that is a scalable SVG image.
The same checks are run on copies of the installed tree with one fault each, and must find it.

Usage: install_check.py <cmake> <build dir> <bindir> <datadir> [<readelf>]
(bindir and datadir relative to the prefix, as configured through GNUInstallDirs)."""
import os
import shutil
import stat
import subprocess
import sys
import tempfile
import unittest
import xml.etree.ElementTree as ET

CMAKE, BUILD_DIR, BINDIR, DATADIR = sys.argv[1:5]
READELF = sys.argv[5] if len(sys.argv) > 5 and sys.argv[5] else None
SOURCE_DIR = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))

PROGRAM = "dittix"
DESKTOP = os.path.join(DATADIR, "applications", PROGRAM + ".desktop")
ICON = os.path.join(DATADIR, "icons", "hicolor", "scalable", "apps", PROGRAM + ".svg")
EXECUTABLE = os.path.join(BINDIR, PROGRAM)

# The main categories of the freedesktop menu: an entry needs one to land in a menu.
MAIN_CATEGORIES = {"AudioVideo", "Audio", "Video", "Development", "Education", "Game",
                   "Graphics", "Network", "Office", "Science", "Settings", "System", "Utility"}
SVG_NS = "{http://www.w3.org/2000/svg}"


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


def check_install(prefix):
    return check_executable(prefix) + check_desktop_entry(prefix) + check_icon(prefix)


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
        ]
        for name, fault, reported in rows:
            with self.subTest(name), tempfile.TemporaryDirectory() as folder:
                copy = os.path.join(folder, "prefix")
                shutil.copytree(self.prefix, copy, symlinks=True)
                fault(copy)
                errors = check_install(copy)
                self.assertTrue(any(reported in e for e in errors), errors)


if __name__ == "__main__":
    unittest.main(argv=sys.argv[:1], verbosity=2)

"""End to end: the real dittix binary with a settings file it cannot use, a settings folder it
cannot write, and a second program started with the same settings folder. Each program is a
copy of the binary in a fresh folder (the settings live beside the executable). What the
operator is told is read from the message box's window (it must appear, and Return dismisses
it) and from the standard error, where the program writes the same sentence.

As root, the read-only folder is a read-only bind mount in a private mount namespace (root is
not stopped by permission bits); otherwise the folder's write permission is taken away."""
import os
import shutil
import stat
import subprocess
import sys
import tempfile

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import xkeys  # noqa: E402

MAIN_TITLE = "Dittix - by Zorvan"
BOX_TITLE = "Dittix"  # the message boxes' title; the main window's name only begins with it
SETTINGS = "; e2e\n[Settings]\nSize=40\n"


class Run:
    """One program: its folder, its process and what it wrote to the standard error."""

    def __init__(self, binary, folder, prepare=None, command=None):
        self.folder = folder
        self.settings = os.path.join(folder, "settings.ini")
        self.executable = os.path.join(folder, "dittix")
        if not os.path.exists(self.executable):
            shutil.copy(binary, self.executable)
        if prepare is not None:
            prepare(self.settings)
        self._log = tempfile.NamedTemporaryFile(prefix="dittix-stderr-", delete=False)
        self.process = subprocess.Popen(command or [self.executable], cwd="/",
                                        stderr=self._log)

    def told(self):
        with open(self._log.name, encoding="utf-8", errors="replace") as f:
            return f.read()

    def wait(self, timeout=15):
        try:
            return self.process.wait(timeout=timeout)
        except subprocess.TimeoutExpired:
            return None

    def close(self):
        if self.process.poll() is None:
            self.process.kill()
            self.process.wait()
        self._log.close()
        os.unlink(self._log.name)


def dismiss_box(x, run, sentence, failures, name):
    """The message box must be on the screen and the sentence on the standard error; Return
    dismisses the box."""
    box = x.find_window(BOX_TITLE, shown=True, exact=True)
    if box is None:
        failures.append(f"{name}: no message box appeared")
        return False
    if not xkeys.wait_for(lambda: sentence in run.told(), 5.0):
        failures.append(f"{name}: told {run.told()!r}, expected {sentence!r}")
    if run.process.poll() is not None:
        failures.append(f"{name}: the program ended before the box was dismissed")
    # The main window takes the focus back once, half a second after it starts (to place the
    # code table); a Return that went there is ignored, since the box blocks it: try again.
    for _ in range(5):
        x.focus(box)
        x.tap(xkeys.XK_Return)
        if xkeys.wait_for(lambda: not x.is_viewable(box), 2.0):
            return True
    failures.append(f"{name}: Return did not dismiss the box")
    return False


def end_with_escape(x, main):
    x.focus(main)
    x.tap(xkeys.XK_Escape)


def unusable_file(binary, failures, name, make, what, kept):
    """A settings "file" that is no file: the program starts on the defaults and says why,
    runs, and at Esc says that it kept the thing in place, ending with status 1."""
    x = xkeys.Display()
    with tempfile.TemporaryDirectory() as folder:
        run = Run(binary, folder, make)
        try:
            settings = run.settings
            if x.find_window(MAIN_TITLE, shown=True) is None:
                failures.append(f"{name}: the main window did not appear")
                return
            if not dismiss_box(x, run, f"Il file delle impostazioni {settings} {what}: Dittix "
                               "parte con le impostazioni predefinite.", failures, name):
                return
            main = x.find_window(MAIN_TITLE, shown=True)
            if main is None or run.process.poll() is not None:
                failures.append(f"{name}: the program did not run on after the message")
                return
            end_with_escape(x, main)
            dismiss_box(x, run, f"Impossibile salvare le impostazioni in {settings}: "
                        f"al suo posto c'è {kept}.", failures, name + " at the end")
            status = run.wait()
            if status != 1:
                failures.append(f"{name}: ended with status {status}, expected 1")
            mode = os.lstat(settings).st_mode
            if make is make_fifo and not stat.S_ISFIFO(mode):
                failures.append(f"{name}: the pipe was replaced")
            if make is make_folder and not (stat.S_ISDIR(mode) and os.path.exists(
                    os.path.join(settings, "inside.txt"))):
                failures.append(f"{name}: the folder was replaced or changed")
        finally:
            run.close()


def make_fifo(path):
    os.mkfifo(path)


def make_folder(path):
    os.mkdir(path)
    with open(os.path.join(path, "inside.txt"), "w") as f:
        f.write("the operator's file\n")


def read_only_folder(binary, failures, training_open=False):
    """Nothing can be written in the settings folder: the program runs (without its lock), and
    Esc tells why the settings were not saved and ends with status 1. With the training window
    open, the ending program closes it too, and its save fails and is told as well."""
    name = "read_only_folder" + ("_training_open" if training_open else "")
    x = xkeys.Display()
    with tempfile.TemporaryDirectory() as folder:
        shutil.copy(binary, os.path.join(folder, "dittix"))
        settings = os.path.join(folder, "settings.ini")
        with open(settings, "w") as f:
            f.write(SETTINGS)
        if os.geteuid() == 0:
            command = ["unshare", "--mount", "--propagation", "private", "sh", "-c",
                       'mount --bind "$1" "$1" && mount -o remount,bind,ro "$1" && '
                       'exec "$1/dittix"', "sh", folder]
            reason = "il disco è in sola lettura"
        else:
            os.chmod(folder, 0o555)
            command = None
            reason = "permesso negato"
        run = Run(binary, folder, command=command)
        try:
            main = x.find_window(MAIN_TITLE, shown=True)
            if main is None:
                failures.append(f"{name}: the main window did not appear ({run.told()!r})")
                return
            if run.told():
                failures.append(f"{name}: told at start-up: {run.told()!r}")
            sentence = f"Impossibile salvare le impostazioni in {settings}: {reason}."
            if training_open:
                x.focus(main)
                x.tap(xkeys.XK_e)
                if x.find_window("ESERCIZIO RICEZIONE", shown=True) is None:
                    failures.append(f"{name}: the training window did not appear")
                    return
            end_with_escape(x, main)
            dismiss_box(x, run, sentence, failures, name + " main window")
            if training_open:
                dismiss_box(x, run, sentence, failures, name + " training window")
                told = run.told().count(sentence)
                if told != 2:
                    failures.append(f"{name}: told {told} time(s), expected 2: {run.told()!r}")
            status = run.wait()
            if status != 1:
                failures.append(f"{name}: ended with status {status}, expected 1")
            with open(settings) as f:
                if f.read() != SETTINGS:
                    failures.append(f"{name}: the settings file changed")
        finally:
            run.close()
            os.chmod(folder, 0o755)


def second_program(binary, failures):
    """A second program with the same settings folder says that Dittix is already running and
    ends with status 2; the first runs on and ends normally. The first also removes, at its
    start, a temporary file that a killed save left, and keeps a foreign file like it."""
    name = "second_program"
    x = xkeys.Display()
    with tempfile.TemporaryDirectory() as folder:
        def prepare(settings):
            with open(settings, "w") as f:
                f.write(SETTINGS)
            for leftover in ("settings.ini.tmp-123456", "settings.ini.tmp-123456.bak"):
                with open(os.path.join(folder, leftover), "w") as f:
                    f.write("[Settings]\nSize=2")
        first = Run(binary, folder, prepare)
        second = None
        try:
            main = x.find_window(MAIN_TITLE, shown=True)
            if main is None:
                failures.append(f"{name}: the first program's window did not appear")
                return
            if os.path.exists(os.path.join(folder, "settings.ini.tmp-123456")):
                failures.append(f"{name}: the stale temporary file was not removed")
            if not os.path.exists(os.path.join(folder, "settings.ini.tmp-123456.bak")):
                failures.append(f"{name}: a foreign file was removed")
            second = Run(binary, folder)
            dismiss_box(x, second, "Dittix è già in esecuzione con le impostazioni in "
                        f"{first.settings}.", failures, name)
            status = second.wait()
            if status != 2:
                failures.append(f"{name}: the second program ended with status {status}, "
                                "expected 2")
            if first.process.poll() is not None:
                failures.append(f"{name}: the first program ended")
                return
            if not x.is_viewable(main):
                failures.append(f"{name}: the first program's window went away")
            end_with_escape(x, main)
            status = first.wait()
            if status != 0:
                failures.append(f"{name}: the first program ended with status {status}")
            with open(first.settings) as f:
                if "Size=40\nPalette=0\nTono=800\n" not in f.read():
                    failures.append(f"{name}: the first program did not save")
        finally:
            if second is not None:
                second.close()
            first.close()


def main():
    binary = sys.argv[1]
    failures = []
    unusable_file(binary, failures, "fifo", make_fifo, "è una pipe (FIFO) e non un file",
                  "una pipe (FIFO)")
    unusable_file(binary, failures, "folder", make_folder, "è una cartella e non un file",
                  "una cartella")
    read_only_folder(binary, failures)
    read_only_folder(binary, failures, training_open=True)
    second_program(binary, failures)
    for failure in failures:
        print("FAIL", failure)
    print("ok" if not failures else f"{len(failures)} failure(s)")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())

"""End to end: the real dittix binary under the test run's X server, keyed on the keyboard keys
with XTest while another window has the focus; the decoded text is read from the program's
decoded-text log, and Esc must save the main window's keys."""
import os
import shutil
import subprocess
import sys
import tempfile
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import xkeys  # noqa: E402


def wait_for(predicate, timeout):
    deadline = time.time() + timeout
    while time.time() < deadline:
        if predicate():
            return True
        time.sleep(0.05)
    return predicate()


def main():
    binary = sys.argv[1]
    failures = []
    with tempfile.TemporaryDirectory() as work:
        shutil.copy(binary, os.path.join(work, "dittix"))
        settings = os.path.join(work, "settings.ini")
        with open(settings, "w") as f:
            f.write("; e2e\n[Settings]\nTono=812.7\nSize=40\nCPM=40\n")
        log = os.path.join(work, "decoded.txt")
        env = dict(os.environ, DITTIX_DECODED_LOG=log)
        program = subprocess.Popen([os.path.join(work, "dittix")], env=env, cwd=work)
        try:
            x = xkeys.Display()
            window = x.find_window("Dittix - by Zorvan")
            if window is None:
                raise SystemExit("the main window did not appear")
            time.sleep(0.5)
            x.focus(x.other_window())

            def decoded():
                return open(log).read() if os.path.exists(log) else ""

            # The default times, 10 / 15 / 40 ticks: dots of 50 ms and dashes of 150 ms lie on
            # either side of the 100 ms threshold, character gaps of 250 ms between the decode
            # (150 ms) and the word space (400 ms), word gaps of 700 ms beyond it.
            cases = [("right_ctrl", xkeys.XK_Control_R, "paris cq"),
                     ("left_arrow", xkeys.XK_Left, "de i1abc"),
                     ("right_arrow", xkeys.XK_Right, "73"),
                     ("left_ctrl", xkeys.XK_Control_L, "test")]
            expected = ""
            for name, keysym, text in cases:
                x.key_text(text, keysym, 0.05, char_gap=0.25, word_gap=0.7)
                expected += text + " "
                if not wait_for(lambda: decoded() == expected, 3.0):
                    failures.append(f"{name}: decoded {decoded()!r}, expected {expected!r}")
                    expected = decoded()

            x.focus(window)
            x.tap(xkeys.XK_Escape)
            try:
                program.wait(timeout=10)
            except subprocess.TimeoutExpired:
                failures.append("Esc did not end the program")
            if program.returncode not in (0, None):
                failures.append(f"exit status {program.returncode}")
            saved = open(settings).read()
            want = "; e2e\n[Settings]\nTono=812\nSize=40\nCPM=40\nPalette=0\n"
            if saved != want:
                failures.append(f"settings after Esc: {saved!r}, expected {want!r}")
        finally:
            if program.poll() is None:
                program.kill()
                program.wait()
    for f in failures:
        print("FAILED:", f)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())

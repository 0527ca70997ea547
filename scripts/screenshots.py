"""Takes the README's screenshots from the real program under an X server: the main window with
keyed text beside the code table, the setup window, the training window while it plays, and the
levels window. Each window is captured on its own (xwd -id) and converted to PNG (ImageMagick).

Usage: python3 scripts/screenshots.py BUILD/src/dittix OUTPUT_FOLDER (scripts/screenshots.sh)"""
import os
import subprocess
import sys
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tests", "e2e"))
import xkeys  # noqa: E402

SETTINGS = ("[Settings]\nSerial Port=17\n"
            "livello1=EISH5\nlivello2=TMO0\nlivello3=ANWJ1\nlivello4=RKPX\n"
            "livello5=ABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789\n"
            "livello6=ABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789?=-/.,;:()'\n"
            "LIV ES=6\nVEL ES=60\nTEMPO ES=2\nINTER ES=2\nMOSTRA ES=1\n")


def capture(x, window, path, crop=None, resize=None):
    """One window (or the whole screen for None), optionally cropped and resized."""
    source = ["-root"] if window is None else ["-id", str(window)]
    dump = subprocess.run(["xwd", "-silent", *source], check=True, capture_output=True).stdout
    args = ["convert", "xwd:-"]
    if crop:
        args += ["-crop", crop, "+repage"]
    if resize:
        args += ["-resize", resize]
    subprocess.run(args + [path], input=dump, check=True)
    print("wrote", path)


def main():
    binary, out = sys.argv[1], sys.argv[2]
    os.makedirs(out, exist_ok=True)
    program = xkeys.Program(binary, SETTINGS)
    try:
        x = program.display
        x.focus(x.other_window())
        x.key_text("cq cq de iz2abc", xkeys.XK_Control_R, 0.05, char_gap=0.25, word_gap=0.7)
        x.key_text("paris 73", xkeys.XK_Control_L, 0.05, char_gap=0.25, word_gap=0.7)
        time.sleep(1.0)
        # The whole screen: the main window with the code table beside it.
        capture(x, None, os.path.join(out, "main-window.png"), resize="50%")
        table = x.find_window("Codice Morse", timeout=5)
        if table is not None:
            capture(x, table, os.path.join(out, "code-table-window.png"), crop="170x700+0+0")

        x.focus(program.main_window)
        x.tap(ord("s"))
        setup = x.find_window("Settings", timeout=10)
        time.sleep(1.0)
        capture(x, setup, os.path.join(out, "setup-window.png"))
        x.focus(setup)
        x.tap(xkeys.XK_Escape)
        time.sleep(0.5)

        x.focus(program.main_window)
        x.tap(ord("e"))
        training = x.find_window("ESERCIZIO RICEZIONE", timeout=10)
        time.sleep(0.5)
        x.click(training, *x.training_start(training))
        time.sleep(12.0)  # the lead-in and the first groups
        capture(x, training, os.path.join(out, "training-window.png"), crop="1188x600+0+0")
        x.click(training, 18 + 40, 8 + 16)  # away from START; LIVELLI next
        x.click(training, 424 + 80, 12 + 12)  # LIVELLI (moved right where the lists widen)
        levels = x.find_window("LIVELLI ESERCIZIO RICEZIONE", timeout=5)
        time.sleep(0.5)
        capture(x, levels, os.path.join(out, "levels-window.png"))
        x.focus(training)
        x.tap(xkeys.XK_Escape)
        time.sleep(0.3)
        x.tap(xkeys.XK_Escape)
        time.sleep(0.3)
        program.end_with_escape()
    finally:
        program.close()


if __name__ == "__main__":
    main()

"""Takes the README's screenshots from the real program under an X server: the main window with
keyed text beside the code table, the setup window, the training window while it plays, the
levels window, a scored copy, the progress window over a month of made-up history, and the
analysis window after a keying much slower than the setting. Each window is captured on its own
(xwd -id) and converted to PNG (ImageMagick).

Usage: python3 scripts/screenshots.py BUILD/src/dittix OUTPUT_FOLDER [analysis]
(scripts/screenshots.sh); with "analysis", only the analysis window is taken."""
import csv
import datetime
import os
import random
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


COURSE = "KMURESNAPTLWI.JZ=FOY,VG5/Q92H38B?47C1D60X"
HEADER = ["date", "mode", "level", "level_chars", "cpm", "minutes", "interpause", "sent", "right",
          "wrong", "missed", "extra", "accuracy_percent", "sent_text", "copy_text"]


def seed_history(path, days=30):
    """A month of receive exercises on the built-in course, three a day, the level rising as the
    accuracy passes 90 %: consistent rows (each wrong character a substitution)."""
    chance = random.Random(5)
    start = datetime.datetime.now().astimezone().replace(microsecond=0) - datetime.timedelta(
        days=days)
    level, skill = 1, 0.75
    with open(path, "w", newline="", encoding="utf-8") as f:
        out = csv.writer(f, lineterminator="\r\n")
        out.writerow(HEADER)
        for day in range(days):
            for k in range(3):
                when = start + datetime.timedelta(days=day, hours=18, minutes=20 * k)
                chars = COURSE[:level + 1]
                sent = "".join(chance.choice(chars) for _ in range(100))
                copy = "".join(c if chance.random() < skill else chance.choice(chars.replace(c, ""))
                               for c in sent)
                right = sum(a == b for a, b in zip(sent, copy))
                groups = lambda t: " ".join(t[i:i + 5] for i in range(0, len(t), 5))
                tenths = (right * 2000 + len(sent)) // (2 * len(sent))
                out.writerow([when.isoformat(), "receive", level, chars, 60, 2, "0.0", len(sent),
                              right, len(sent) - right, 0, 0, f"{tenths // 10}.{tenths % 10}",
                              groups(sent), groups(copy)])
                if tenths >= 900:
                    level, skill = level + 1, 0.8
                else:
                    skill = min(0.95, skill + 0.01)


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


# The straight key set to 66 CPM (a 60 ms dot/dash threshold) for a hand keying at 12 WPM.
ANALYSIS_SETTINGS = ("[Settings]\nSerial Port=17\nCPM=66\nDot time=6\nDecode time=9\n"
                     "Blank time=18\n")


def analysis_window(binary, out):
    """The analysis window after "paris de iz2abc k" keyed at a 100 ms dot, with character gaps a
    little long, as a slow hand keys: the decoder read garbage. Then a drill line is started and
    its first group keyed in the same hand, which the drill marks wrong."""
    program = xkeys.Program(binary, ANALYSIS_SETTINGS, env={"DITTIX_ANALYSIS_LOG": "analysis.log"})
    log = os.path.join(program.folder, "analysis.log")

    def last_line():
        with open(log, encoding="utf-8") as f:
            head = f.read().splitlines()[-1].partition(" summary=")[0]
        return dict(field.split("=", 1) for field in head.split())

    try:
        x = program.display
        x.focus(x.other_window())
        x.key_text("paris de iz2abc k", xkeys.XK_Control_R, 0.1, char_gap=0.34, word_gap=0.75)
        time.sleep(0.5)
        x.focus(program.main_window)
        x.tap(ord("a"))
        analysis = x.find_window("ANALISI MANIPOLAZIONE", timeout=10, shown=True)
        time.sleep(1.0)
        x.click(analysis, *(int(v) for v in last_line()["via"].split(",")))
        time.sleep(0.5)
        first_group = last_line()["target"].split("_")[0].lower()
        x.focus(x.other_window())
        x.key_text(first_group, xkeys.XK_Control_R, 0.1, char_gap=0.34, word_gap=0.75)
        time.sleep(1.0)
        capture(x, analysis, os.path.join(out, "analysis-window.png"))
        x.focus(analysis)
        x.tap(xkeys.XK_Escape)
        time.sleep(0.3)
        program.end_with_escape()
    finally:
        program.close()


def main():
    binary, out = sys.argv[1], sys.argv[2]
    os.makedirs(out, exist_ok=True)
    if sys.argv[3:] == ["analysis"]:
        analysis_window(binary, out)
        return
    program = xkeys.Program(binary, SETTINGS, training_log=True)
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
        x.focus(levels)
        x.tap(xkeys.XK_Escape)
        time.sleep(0.3)

        # A copy typed while the exercise plays, one character in eight typed wrong, then Esc:
        # the grid's marks and the summary.
        seed_history(os.path.join(program.folder, "training-history.csv"))
        x.focus(training)
        x.tap(xkeys.XK_Escape)  # stops the exercise
        time.sleep(1.5)
        drawn = len(program.training_log())
        x.click(training, *x.training_start(training))  # a new one
        if not xkeys.wait_for(lambda: len(program.training_log()) > drawn, 5):
            raise SystemExit("START drew no exercise")
        text = [t for k, t in program.training_log() if k == "exercise"][-1].replace(" ", "")
        time.sleep(7.0)  # the lead-in
        x.focus(training)
        for k, c in enumerate(text[:12]):  # as the characters are heard
            time.sleep(2.0)
            typed = c if c.isalnum() and k != 5 else ("e" if c != "E" else "t")
            x.tap(ord(typed.lower()))
        time.sleep(1.0)
        x.tap(xkeys.XK_Escape)  # stops the exercise: the score
        time.sleep(1.0)
        capture(x, training, os.path.join(out, "training-copy.png"), crop="1188x600+0+0")
        x.click(training, *x.training_progress(training))
        progress = x.find_window("PROGRESSI", timeout=5)
        time.sleep(1.0)
        capture(x, progress, os.path.join(out, "progress-window.png"))
        x.focus(progress)
        x.tap(xkeys.XK_Escape)
        time.sleep(0.3)
        x.focus(training)
        x.tap(xkeys.XK_Escape)
        time.sleep(0.3)
        program.end_with_escape()
    finally:
        program.close()
    analysis_window(binary, out)


if __name__ == "__main__":
    main()

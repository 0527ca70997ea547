"""End to end: a new user's first exercise. The real dittix binary starts with no settings file at
all; 'e' opens the training window, which offers the built-in course. The speed list is set to
150 CPM, START sends level 1 (K and M), and a copy of its first ten characters is typed while it
plays, the fourth typed as T (not in the level, so it can only be taken for the fourth). Esc stops
the exercise. Then:

  - the grid marks every character sent: the ten copied green but the fourth red with the T
    beside it, the rest grey; the characters not sent stay hidden;
  - the summary line (read through the program's DITTIX_TRAINING_LOG) gives the counts, the
    accuracy and the confusion;
  - training-history.csv beside settings.ini has the header and one row, every column checked;
  - PROGRESSI shows the progress window with its charts;
  - closing the windows adds no row (the copy did not change) and the settings file gets the
    training keys but none of the course's levels.

Run as: private_dev.py ttyUSB0 -- python3 copy_e2e.py BIN"""
import csv
import io
import os
import re
import sys
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import xkeys  # noqa: E402

XK_End = 0xFF57
TYPED = 10          # characters copied
WRONG_AT = 3        # the fourth of them is typed as T
HEADER = ("date,mode,level,level_chars,cpm,minutes,interpause,sent,right,wrong,missed,extra,"
          "accuracy_percent,sent_text,copy_text")

# The grid's cells in the training window: the scrolling panel starts 48 pixels down; 36 columns
# of 32 x 50 pixels at the window's created width.
GRID_TOP = 48
COLUMNS = 36
COLOURS = {"green": (0, 220, 0), "red": (255, 60, 60), "grey": (128, 128, 128),
           "yellow": (255, 255, 0), "white": (255, 255, 255)}


def cell_box(k):
    return k % COLUMNS * 32 + 16, GRID_TOP + k // COLUMNS * 50 + 4, 32, 50


def cell_colours(x, window, k):
    """How many pixels of cell k have each of the marks' colours (a few levels of tolerance for
    the edges' blending are not counted: only the glyphs' solid pixels)."""
    rows = x.pixels(window, *cell_box(k))
    counts = {name: 0 for name in COLOURS}
    for row in rows or []:
        for pixel in row:
            for name, colour in COLOURS.items():
                if all(abs(a - b) <= 2 for a, b in zip(pixel, colour)):
                    counts[name] += 1
    return counts


def main():
    failures = []
    program = xkeys.Program(sys.argv[1], None, training_log=True)
    try:
        x = program.display
        x.focus(program.main_window)
        x.tap(xkeys.XK_e)
        training = x.find_window("ESERCIZIO RICEZIONE", timeout=10, shown=True)
        if training is None:
            raise SystemExit("the training window did not appear")
        time.sleep(0.8)
        # The speed list (left of the middle of its field), its last item: 150 CPM.
        x.click(training, 230, 20)
        time.sleep(0.6)
        x.tap(XK_End)
        time.sleep(0.2)
        x.tap(xkeys.XK_Return)
        time.sleep(0.6)
        x.click(training, *x.training_start(training))
        if not xkeys.wait_for(lambda: any(k == "exercise" for k, _ in program.training_log()), 5):
            raise SystemExit("START drew no exercise")
        text = [t for k, t in program.training_log() if k == "exercise"][-1]
        characters = text.replace(" ", "")
        if set(characters) != {"K", "M"} or len(characters) != 150:
            failures.append(f"level 1 at 150 CPM for a minute: {text!r}")
        copy = list(characters[:TYPED])
        copy[WRONG_AT] = "T"
        x.focus(training)
        time.sleep(0.3)
        for c in copy:  # during the lead-in
            x.tap(ord(c.lower()))
            time.sleep(0.03)
        typed = "".join(copy)
        if not xkeys.wait_for(lambda: ("copy", typed) in program.training_log(), 5):
            copies = [t for k, t in program.training_log() if k == "copy"]
            raise SystemExit(f"the copy typed was not taken: {copies[-1:]!r}")
        # Esc once the sixteenth character's tone has started (the lead-in, V V V and the long
        # tone, takes about 3.7 s at 150 CPM, and K and M about 0.45 s each).
        def sending():
            places = [int(t) for k, t in program.training_log() if k == "sending"]
            return max(places, default=-1)
        if not xkeys.wait_for(lambda: sending() >= 18, 60):
            raise SystemExit(f"the exercise did not reach its sixteenth character: {sending()}")
        x.focus(training)
        x.tap(xkeys.XK_Escape)  # stops the exercise
        if not xkeys.wait_for(lambda: any(k == "summary" for k, _ in program.training_log()), 10):
            raise SystemExit("no score after the exercise was stopped")
        summary = [t for k, t in program.training_log() if k == "summary"][-1]

        history = os.path.join(program.folder, "training-history.csv")
        with open(history, newline="", encoding="utf-8") as f:
            content = f.read()
        lines = content.split("\r\n")
        if lines[0] != HEADER:
            failures.append(f"header: {lines[0]!r}")
        rows = list(csv.reader(io.StringIO(content, newline="")))
        if len(rows) != 2:
            raise SystemExit(f"history: {len(rows) - 1} rows, expected 1: {content!r}")
        row = dict(zip(HEADER.split(","), rows[1]))
        sent_text = row["sent_text"]
        sent = len(sent_text.replace(" ", ""))
        if sent <= TYPED:
            raise SystemExit(f"only {sent} characters were sent before Esc: wait longer")
        if not text.startswith(sent_text):
            failures.append(f"sent_text {sent_text!r} is not the start of {text!r}")
        tenths = ((TYPED - 1) * 2000 + sent) // (2 * sent)  # halves rounded up
        accuracy = f"{tenths // 10}.{tenths % 10}"
        want = {"mode": "receive", "level": "1", "level_chars": "KM", "cpm": "150",
                "minutes": "1", "interpause": "0.0", "sent": str(sent), "right": str(TYPED - 1),
                "wrong": "1", "missed": str(sent - TYPED), "extra": "0",
                "accuracy_percent": accuracy, "copy_text": "".join(copy)}
        for column, value in want.items():
            if row[column] != value:
                failures.append(f"column {column}: {row[column]!r}, expected {value!r}")
        if not re.fullmatch(r"\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d([+-]\d\d:\d\d|Z)", row["date"]):
            failures.append(f"date {row['date']!r}")

        decimal = accuracy.replace(".", ",")
        want_summary = (f"Inviati {sent} \u00b7 Giusti {TYPED - 1} \u00b7 Errati 1 \u00b7 "
                        f"Mancanti {sent - TYPED} \u00b7 In pi\u00f9 0 \u00b7 Precisione "
                        f"{decimal} % \u00b7 {characters[WRONG_AT]}\u2192T \u00d71")
        if summary != want_summary:
            failures.append(f"summary {summary!r}, expected {want_summary!r}")

        # The marks, cell by cell: the index of each sent character in the grid.
        time.sleep(0.3)
        seen = 0
        for k, c in enumerate(sent_text):
            if c == " ":
                continue
            colours = cell_colours(x, training, k)
            expected = "red" if seen == WRONG_AT else "green" if seen < TYPED else "grey"
            found = max(("green", "red", "grey", "yellow"), key=lambda n: colours[n])
            if found != expected or colours[found] < 30:
                failures.append(f"cell {k} ({c}): {colours}, expected {expected}")
            if seen == WRONG_AT and colours["white"] < 10:
                failures.append(f"cell {k}: the typed T is not drawn beside it ({colours})")
            seen += 1
        for k in range(len(sent_text), len(sent_text) + 6):
            colours = cell_colours(x, training, k)
            if any(colours[n] > 0 for n in ("green", "red", "grey", "yellow")):
                failures.append(f"cell {k}, not sent, is shown: {colours}")

        # PROGRESSI, right of LIVELLI.
        x.click(training, *x.training_progress(training))
        progress = x.find_window("PROGRESSI", timeout=5, shown=True)
        if progress is None:
            failures.append("PROGRESSI opened no window")
        else:
            time.sleep(1.0)
            picture = x.pixels(progress, 0, 0, 600, 400) or []
            shades = {pixel for line in picture for pixel in line}
            if len(shades) < 20:
                failures.append(f"the progress window shows {len(shades)} colours: no chart")
            x.focus(progress)
            x.tap(xkeys.XK_Escape)
            time.sleep(0.4)
        x.focus(training)
        x.tap(xkeys.XK_Escape)  # closes the training window
        time.sleep(0.5)
        if not program.end_with_escape():
            failures.append("the program did not end on Esc")
        with open(history, newline="", encoding="utf-8") as f:
            after = f.read()
        if after != content:
            failures.append(f"closing changed the history: {after!r}")
        saved = program.saved_settings()
        if "livello" in saved.lower():
            failures.append(f"the course was written to the settings: {saved!r}")
        for key in ("LIV ES=1\n", "VEL ES=150\n"):
            if key not in saved:
                failures.append(f"settings lack {key.strip()!r}: {saved!r}")
    finally:
        program.close()
    for f in failures:
        print("FAILED:", f)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())

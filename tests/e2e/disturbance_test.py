"""Tests of the keyed end-to-end tests' judgement: which keyings the decoder must read right with
the late ticks the program logged and the test's own send times, the tone bounds, the dropouts
found in a recording, and the keying again until a stretch ran undisturbed."""
import math
import os
import sys
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import disturbance  # noqa: E402
import sink_monitor  # noqa: E402
from xkeys import KeyEvent, LateTick, Tap  # noqa: E402

# The stored timings of the end-to-end sessions: a 10-tick dot, decode after 15, word space
# after 40.
TIMING = disturbance.Timing(dot=10, decode=15, blank=40)
T0 = 1000.0  # seconds on the monotonic clock where the keying starts


def keyed(plan, late_by=None):
    """KeyEvents from (ms after T0, down, follows) rows, each sent 1 ms after its planned time
    unless `late_by` gives the ms by which event i (from 0) came later."""
    late_by = late_by or {}
    return [KeyEvent(T0 + ms / 1000, T0 + (ms + 1 + late_by.get(i, 0)) / 1000, down, follows)
            for i, (ms, down, follows) in enumerate(plan)]


def element(down_ms, length_ms, kind, gap_ms, gap_kind):
    return [(down_ms, True, kind), (down_ms + length_ms, False, gap_kind)]


def dot_dash_word(dot_ms=50, dash_ms=150, gap_ms=50):
    """"a" keyed: a dot of `dot_ms`, a gap of `gap_ms`, a dash of `dash_ms`, then the word gap,
    closed by the next word's first key-down 700 ms later."""
    plan = element(0, dot_ms, "dot", gap_ms, "element")
    plan += element(dot_ms + gap_ms, dash_ms, "dash", 700, "word")
    plan.append((dot_ms + gap_ms + dash_ms + 700, True, "dot"))
    plan.append((dot_ms + gap_ms + dash_ms + 750, False, "word"))
    return plan


def tick_at(ms_after_t0, late_ms):
    return LateTick(T0 + ms_after_t0 / 1000, late_ms)


class StraightKeyTest(unittest.TestCase):
    def test_disturbance(self):
        rows = [
            # name, plan, late ticks, events sent late {index: ms}, disturbed
            ("undisturbed keying", dot_dash_word(), [], {}, False),
            # A logged tick may have taken its lateness and a slot from the 149 .. 151 ms dash.
            ("a late tick of 20 ms inside the dash leaves it surely a dash", dot_dash_word(),
             [tick_at(150, 20)], {}, False),
            ("a late tick of 30 ms inside the dash may leave it a dot", dot_dash_word(),
             [tick_at(150, 30)], {}, True),
            ("a late tick of 60 ms inside a dot may leave no tick in it", dot_dash_word(),
             [tick_at(30, 60)], {}, True),
            ("a late tick before the keying does not count", dot_dash_word(),
             [tick_at(-200, 300)], {}, False),
            ("a late tick long after the keying does not count", dot_dash_word(),
             [tick_at(3000, 300)], {}, False),
            ("a key event 9 ms late (10 in all) is on time", dot_dash_word(), [], {2: 9}, False),
            ("a key event 10 ms late (11 in all) is late", dot_dash_word(), [], {2: 10}, True),
            # The dot threshold of 10 ticks: a key-down of T ms may hold ceil((T + 10) / 10)
            # ticks; the sends 1 ms late add 1 ms.
            ("dot of 69 ms: at most 8 ticks", dot_dash_word(dot_ms=69), [], {}, False),
            ("dot of 79 ms: at most 9 ticks", dot_dash_word(dot_ms=79), [], {}, False),
            ("dot of 80 ms: perhaps 10 ticks, a dash", dot_dash_word(dot_ms=80), [], {}, True),
            # A dash of T ms holds at least floor((T - 1 - 10) / 10) ticks.
            ("dash of 120 ms: at least 10 ticks", dot_dash_word(dash_ms=120), [], {}, False),
            ("dash of 111 ms: at least 10 ticks", dot_dash_word(dash_ms=111), [], {}, False),
            ("dash of 110 ms: perhaps 9 ticks, a dot", dot_dash_word(dash_ms=110), [], {}, True),
            # The element gap: at least 3 ticks (the debounce), fewer than the 15 of the decode.
            ("element gap of 41 ms: at least 3 ticks", dot_dash_word(gap_ms=41), [], {}, False),
            ("element gap of 40 ms: perhaps 2 ticks", dot_dash_word(gap_ms=40), [], {}, True),
            ("element gap of 129 ms: at most 14 ticks", dot_dash_word(gap_ms=129), [], {}, False),
            ("element gap of 130 ms: perhaps 15 ticks, the decode", dot_dash_word(gap_ms=130),
             [], {}, True),
        ]
        for name, plan, late, late_by, disturbed in rows:
            with self.subTest(name):
                reasons = disturbance.straight_key(keyed(plan, late_by), late, TIMING)
                self.assertEqual(bool(reasons), disturbed, reasons)

    def test_character_and_word_gaps(self):
        # A dot, then a gap of `gap_ms` of the given kind, then a dot and a word gap.
        def plan(gap_ms, kind):
            return (element(0, 50, "dot", gap_ms, kind)
                    + element(50 + gap_ms, 50, "dot", 700, "word")
                    + [(50 + gap_ms + 750, True, "dot")])
        rows = [
            ("character gap of 161 ms: at least 15 ticks", 161, "character", False),
            ("character gap of 160 ms: perhaps 14 ticks", 160, "character", True),
            ("character gap of 379 ms: at most 39 ticks", 379, "character", False),
            ("character gap of 380 ms: perhaps 40 ticks, a word space", 380, "character", True),
            ("word gap of 411 ms: at least 40 ticks", 411, "word", False),
            ("word gap of 410 ms: perhaps 39 ticks", 410, "word", True),
        ]
        for name, gap_ms, kind, disturbed in rows:
            with self.subTest(name):
                reasons = disturbance.straight_key(keyed(plan(gap_ms, kind)), [], TIMING)
                self.assertEqual(bool(reasons), disturbed, reasons)


def tapped(rows, late_by=None, held_ms=20):
    """Taps from (ms after T0, element, follows) rows, each sent 1 ms after its planned time
    (later by `late_by[i]` ms) and held `held_ms`."""
    late_by = late_by or {}
    taps = []
    for i, (ms, kind, follows) in enumerate(rows):
        sent = T0 + (ms + 1 + late_by.get(i, 0)) / 1000
        taps.append(Tap(T0 + ms / 1000, sent, sent + held_ms / 1000, kind, follows))
    return taps


class PaddlesTest(unittest.TestCase):
    def test_disturbance(self):
        # "a" then "e": the dash tapped `after_ms` after the dot, "e" 1.1 s after the dash.
        def a_e(after_ms, follows="element"):
            return [(0, ".", follows), (after_ms, "-", "word"), (after_ms + 1100, ".", "word")]
        rows = [
            # name, taps, late ticks, sent late {index: ms}, held ms, disturbed
            ("undisturbed keying", a_e(225), [], {}, 20, False),
            ("a late tick of 100 ms between the taps, still in the window", a_e(225),
             [tick_at(150, 100)], {}, 20, False),
            ("a late tick while a tap is held may miss the tap", a_e(225),
             [tick_at(235, 30)], {}, 20, True),
            # A tap is surely seen when held longer than the time between two ticks: 15 ms when
            # none is logged, else a tick and the logged lateness.
            ("a tap held 20 ms with a late tick of 9 ms is seen", a_e(225),
             [tick_at(240, 9)], {}, 20, False),
            ("a tap held 20 ms with a late tick of 10 ms may be missed", a_e(225),
             [tick_at(240, 10)], {}, 20, True),
            ("a tap held 15 ms may be missed", a_e(225), [], {}, 15, True),
            ("a tap held 16 ms is seen", a_e(225), [], {}, 16, False),
            ("a tap 11 ms late", a_e(225), [], {1: 10}, 20, True),
            # The next element: seen from the dot's tone end (10 ticks) to the tick before the
            # decode (20 + 15 - 1 = 34 ticks); a tap T ms later is seen ceil(T / 10) to
            # floor((T - 11) / 10) ticks later.
            ("next element 111 ms after: at least 10 ticks", a_e(111), [], {}, 20, False),
            ("next element 110 ms after: perhaps 9 ticks, during the tone", a_e(110), [], {},
             20, True),
            ("next element 329 ms after: at most 34 ticks", a_e(329), [], {}, 20, False),
            ("next element 330 ms after: perhaps 35 ticks, after the decode", a_e(330), [], {},
             20, True),
            # Remembered: seen from the tone's end to the element's end (20 ticks).
            ("remembered 150 ms after", a_e(150, "memory"), [], {}, 20, False),
            ("remembered 189 ms after: at most 20 ticks", a_e(189, "memory"), [], {}, 20, False),
            ("remembered 190 ms after: perhaps 21 ticks, not remembered", a_e(190, "memory"),
             [], {}, 20, True),
        ]
        for name, rows_, late, late_by, held, disturbed in rows:
            with self.subTest(name):
                reasons = disturbance.paddles(tapped(rows_, late_by, held), late, TIMING)
                self.assertEqual(bool(reasons), disturbed, reasons)

    def test_character_and_word_windows(self):
        # A dot (element of 20 ticks) followed by a tap `after_ms` later of the given kind.
        rows = [
            # after the decode (20 + 15 = 35 ticks) and before the word space (20 + 40 = 60)
            ("next character 371 ms after: at least 36 ticks", 371, "character", False),
            ("next character 370 ms after: perhaps 35 ticks, at the decode", 370, "character",
             True),
            ("next character 579 ms after: at most 59 ticks", 579, "character", False),
            ("next character 580 ms after: perhaps 60 ticks, at the word space", 580,
             "character", True),
            ("next word 621 ms after: at least 61 ticks", 621, "word", False),
            ("next word 620 ms after: perhaps 60 ticks", 620, "word", True),
        ]
        for name, after_ms, follows, disturbed in rows:
            with self.subTest(name):
                taps = tapped([(0, ".", follows), (after_ms, ".", "word")])
                reasons = disturbance.paddles(taps, [], TIMING)
                self.assertEqual(bool(reasons), disturbed, reasons)

    def test_remembered_element_starts_late(self):
        # A dot remembered 150 ms after the first (13 .. 16 ticks) starts at the first dot's end,
        # 21 ticks after the first tap: up to 8 ticks after it was seen. The tap after it must
        # be seen at least a tone (10 ticks) into it: 18 ticks after the remembered tap, which a
        # tap 191 ms later surely is (floor((191 - 1 - 10) / 10)) and one 190 ms later may not.
        rows = [("third tap 191 ms after the remembered one", 150 + 191, False),
                ("third tap 190 ms after the remembered one", 150 + 190, True)]
        for name, third_ms, disturbed in rows:
            with self.subTest(name):
                taps = tapped([(0, ".", "memory"), (150, ".", "element"), (third_ms, ".", "word")])
                reasons = disturbance.paddles(taps, [], TIMING)
                self.assertEqual(bool(reasons), disturbed, reasons)


def tone(start_ms, length_ms, pieces=1, sounding_ms=None):
    return sink_monitor.Tone(start_ms, start_ms + length_ms,
                             length_ms if sounding_ms is None else sounding_ms, pieces)


class ToneTest(unittest.TestCase):
    def test_straight_key_bounds(self):
        # A 150 ms key-down sent 1 ms late at both edges: 149 .. 151 ms between the key events,
        # each edge a tick and up to 5 ms (or a logged late tick) and a buffer later.
        events = keyed([(0, True, "dash"), (150, False, "word")])
        rows = [("no late tick", [], 149 - 15, 151 + 15),
                ("a late tick of 30 ms at the key-up", [tick_at(151, 30)], 149 - 15, 151 + 40)]
        for name, late, lowest, highest in rows:
            with self.subTest(name):
                (lo, hi), = disturbance.straight_key_tones(events, late)
                self.assertAlmostEqual(lo, lowest - disturbance.BUFFER_MS)
                self.assertAlmostEqual(hi, highest + disturbance.BUFFER_MS)

    def test_check(self):
        bounds = [(40, 60), (140, 160), (40, 60)]
        rows = [
            # name, heard, result kind
            ("every tone within its bounds", [tone(0, 50), tone(100, 150), tone(300, 50)], None),
            ("tones at the bounds", [tone(0, 40), tone(100, 160), tone(300, 60)], None),
            ("a tone 1 ms too short", [tone(0, 39), tone(100, 150), tone(300, 50)], (0,)),
            ("a tone 1 ms too long", [tone(0, 50), tone(100, 161), tone(300, 50)], (1,)),
            ("a tone missing", [tone(0, 50), tone(100, 150)], "fewer tones"),
            ("an extra tone too far after a tone to split it",
             [tone(0, 50), tone(100, 150), tone(300, 50), tone(2000, 50)], "more tones"),
            # A dropout inside a tone leaves its edges in place: its length is its span.
            ("silence inside a tone that spans its length",
             [tone(0, 50), tone(100, 150, pieces=3, sounding_ms=110), tone(300, 50)], None),
            ("silence inside a tone that spans too little",
             [tone(0, 50), tone(100, 139, pieces=2, sounding_ms=130), tone(300, 50)], (1,)),
            ("a dash split in two by a dropout",
             [tone(0, 50), tone(100, 68), tone(208, 42), tone(300, 50)], "dropout"),
            # Split pieces may span the dash's longest (160 ms) and a dropout (250 ms).
            ("a dash split in pieces spanning 410 ms",
             [tone(0, 50), tone(100, 60), tone(450, 60), tone(600, 50)], "dropout"),
            ("pieces spanning 411 ms are no split dash",
             [tone(0, 50), tone(100, 60), tone(451, 60), tone(600, 50)], "more tones"),
            ("two pieces that sound longer than the dash",
             [tone(0, 50), tone(100, 100), tone(230, 70), tone(350, 50)], "more tones"),
        ]
        # Expected: None, "dropout", or what is wrong (the same for the same fault each time).
        for name, heard, expected in rows:
            with self.subTest(name):
                found = disturbance.tone_check(heard, bounds)
                if expected is None or expected == "dropout":
                    self.assertEqual(found if found is None else found[0], expected, found)
                else:
                    self.assertEqual(found[:2], ("wrong", expected), found)

    def test_kinds_of_composed_tones(self):
        # Dots of 20..70 ms, dashes of 90..160 ms; each row's tones as (span, sounding) ms.
        lengths = (("dot", 20, 70), ("dash", 90, 160))
        rows = [
            ("a dot and a dash", [(40, 40), (120, 120)], ["dot", "dash"]),
            ("the bounds of each kind", [(20, 20), (70, 70), (90, 90), (160, 160)],
             ["dot", "dot", "dash", "dash"]),
            ("just outside them", [(71, 71), (89, 89), (161, 161)], ["71 ms", "89 ms", "161 ms"]),
            ("alone 1 ms too short for a dot", [(19, 19)], ["19 ms"]),
            # A dropout delays the rest of the stream: the span grows, the sound does not.
            ("a dot stretched by two dropouts", [(88, 40)], ["dot"]),
            ("a short part joins the rest of its dot after it",
             [(13, 13), (27, 27), (120, 120)], ["dot", "dash"]),
            ("a short part joins the rest of its dash before it",
             [(40, 40), (100, 100), (15, 15), (40, 40)], ["dot", "dash", "dot"]),
            ("a short part that would make the tone after it too long",
             [(40, 40), (15, 15), (150, 150)], ["dot", "dash"]),
            ("a short part that fits neither neighbour", [(150, 150), (15, 15), (150, 150)],
             ["dash", "15 ms", "dash"]),
            ("a part long enough for a dot stays one", [(20, 20), (40, 40)], ["dot", "dot"]),
            ("two dots never make a dash", [(40, 40), (40, 40)], ["dot", "dot"]),
        ]
        for name, heard, expected in rows:
            with self.subTest(name):
                at = [sum(span for span, _ in heard[:i]) + 50 * i for i in range(len(heard))]
                tones = [tone(start, span, sounding_ms=sounding)
                         for start, (span, sounding) in zip(at, heard)]
                self.assertEqual(sink_monitor.kinds(tones, lengths), expected)

    def test_recording_pieces(self):
        # 60 ms of a 700 Hz tone, `gap_ms` of silence, 60 ms more, read with a join below 30 ms.
        def recording(gap_ms):
            def sine(ms):
                return [int(30000 * math.sin(2 * math.pi * 700 * i / sink_monitor.RATE))
                        for i in range(int(ms * sink_monitor.RATE / 1000))]
            return sine(60) + [0] * int(gap_ms * sink_monitor.RATE / 1000) + sine(60)
        rows = [("no gap: one tone in one piece", 0, [1]),
                ("a 5 ms dropout: one tone in two pieces", 5, [2]),
                ("29 ms of silence: one tone in two pieces", 29, [2]),
                ("31 ms of silence: two tones", 31, [1, 1])]
        for name, gap_ms, pieces in rows:
            with self.subTest(name):
                heard = sink_monitor.tones(recording(gap_ms), 700, 30)
                self.assertEqual([t.pieces for t in heard], pieces)
                self.assertAlmostEqual(sum(t.sounding_ms for t in heard), 120, delta=2)


class FakeProgram:
    """A program whose decoded text and late ticks the keyings of a test set."""

    def __init__(self):
        self.text = ""
        self.late = []

    def decoded(self):
        return self.text

    def late_ticks(self):
        return list(self.late)


class KeyAgainTest(unittest.TestCase):
    def test_outcomes(self):
        D, U = "disturbed", "undisturbed"
        rows = [
            # name, keyings as (judged, text decoded), check answers in turn, keyings made,
            # failed, not checked
            ("undisturbed and right at once", [(U, "cq ")], [None], 1, False, False),
            ("disturbed, then undisturbed and right", [(D, "c q "), (U, "cq ")], [None], 2,
             False, False),
            ("disturbed three times", [(D, "c q "), (D, "cq "), (D, "e ")], [], 3, False, True),
            ("undisturbed but wrong: a failure, not keyed again", [(U, "c q "), (U, "cq ")],
             [None], 1, True, False),
            ("wrong after a disturbed keying", [(D, "cq "), (U, "c q ")], [None], 2, True,
             False),
            ("the check finds a fault", [(U, "cq ")], [("failed", "tone 3")], 1, True, False),
            ("the check cannot be made, then passes", [(U, "cq "), (U, "cq ")],
             [("not checked", "dropout"), None], 2, False, False),
            ("the check can never be made", [(U, "cq ")] * 3, [("not checked", "dropout")] * 3,
             3, False, True),
            # Tones found wrong: a dropout does it once, a fault at the same place each time.
            ("the same tone wrong in two keyings", [(U, "cq ")] * 2,
             [("wrong", (2,), "tone 3")] * 2, 2, True, False),
            ("the same wrong with a disturbed keying between", [(U, "cq "), (D, "cq "),
                                                                (U, "cq ")],
             [("wrong", "fewer tones", "7 tones")] * 2, 3, True, False),
            ("a tone wrong once, then right", [(U, "cq ")] * 2,
             [("wrong", (2,), "tone 3"), None], 2, False, False),
            ("something else wrong in each keying", [(U, "cq ")] * 3,
             [("wrong", (2,), "tone 3"), ("wrong", (4,), "tone 5"),
              ("wrong", "fewer tones", "7 tones")], 3, False, True),
            ("the check cannot be made, then finds a fault", [(U, "cq "), (U, "cq ")],
             [("not checked", "dropout"), ("failed", "tone 3")], 2, True, False),
        ]
        for name, keyings, checks, made, failed, not_checked in rows:
            with self.subTest(name):
                program = FakeProgram()
                plan, answers = iter(keyings), iter(checks)

                def key():
                    judged, text = next(plan)
                    program.text += text
                    return [judged]

                outcome = disturbance.key_until_undisturbed(
                    "straight key", program, key,
                    lambda events, late: ["late"] if events == ["disturbed"] else [], "cq ",
                    lambda attempt: next(answers))
                self.assertEqual(len(outcome.attempts), made)
                self.assertEqual(bool(outcome.failures), failed, outcome.failures)
                self.assertEqual(bool(outcome.not_checked), not_checked, outcome.not_checked)
                # Each keying's own text is judged, not what the ones before it decoded.
                self.assertEqual([a.text for a in outcome.attempts],
                                 [text for _, text in keyings[:made]])


if __name__ == "__main__":
    unittest.main()

"""Whether a keyed stretch of an end-to-end test ran as planned, from the program's own log of its
late decode ticks (its measurement hook DITTIX_TICK_LOG), the times the test sent its key events
and the recording of the sidetone, and the tone lengths the sidetone can have then.

The decoder counts ticks: a key-down run of fewer than `dot` ticks is a dot, an element closes
after 3 key-up ticks, a character is decoded after `decode` key-up ticks and a word space written
after `blank`. On a busy machine the 10 ms tick runs late and the ticks it missed are not made up
(the timer waits one tick from the late one), and the test's own wake-ups come late: a run or a
gap of the keying can then be counted as too few or too many ticks, and the decoder reads a dash
as a dot or runs two elements together without any fault of its own. A stretch whose every
interval is counted inside the decoder's window for it, whatever the lateness the log shows, is
undisturbed: the decoder must decode it right. Any other stretch is disturbed and is keyed again.

When a key event took effect is known to lie between the time it was planned for (the test does
not send it earlier) and the time the X server had it. How many ticks fall in an interval of T ms:
the timer keeps its ticks on a fixed 10 ms grid, each tick less than one slot after its own slot;
a tick that comes later than that restarts the grid from itself, and the slots it skipped are
lost. A tick more than 5 ms later than one tick after the tick before it is in the log, and a
restart can only show there. So the interval holds at most ceil((T + 10) / 10) ticks (a slot
just before it may fire inside it), and at least floor((T - 10 - lost) / 10): one slot for the
tick that sees an edge up to a slot late, and for every logged tick whose time since the tick
before overlaps the interval, its lateness and the slot it may have shifted the grid by.

The recording can be disturbed too. The audio server's sink can stall or drop frames: the
recording then cannot show the tones' lengths. The program's own stream can run dry when its
sound is not made in time: the server plays silence until it is, and the tone goes on after it
with the key's state at that time, so that its edges stay in place. A tone is therefore measured
from its first sound to its last, silence inside it included; a dropout long enough to be taken
for the silence between two tones splits one, and then the stretch is keyed again. A dropout that
swallows a tone's edge, or a whole tone, looks like a fault of the sidetone; but a fault does the
same in every keying, where a dropout falls anywhere: a tone wrong in one keying is keyed again,
and only the same tone wrong in two keyings of a stretch is a failure."""
import collections
import math

import xkeys

TICK_MS = 10.0
# The program logs every tick that came more than this long after one tick from the tick before.
LOG_LIMIT_MS = 5.0
# The sidetone's output takes the key's state once for every 256 frames at 44 100 Hz, and the
# audio server plays those frames in that order: each edge of a tone is heard up to one buffer
# after the tick that made it.
BUFFER_MS = 256 * 1000.0 / 44100
UNLIMITED = math.inf
# A tone split by a dropout of the program's stream spans at most this much more than the tone.
DROPOUT_SPAN_MS = 250.0
# More of the sink's time than this missing from a keyed stretch of the recording is a dropout.
DROPPED_LIMIT_S = 0.03

# The decode times, in ticks, of one key: the dot time (the threshold between a dot and a dash,
# and the paddle keyer's dot), the decode time and the blank time.
Timing = collections.namedtuple("Timing", "dot decode blank")
# The gap debounce: an element closes after this many key-up ticks.
GAP_DEBOUNCE_TICKS = 3


def _overlapping(late, start, end):
    """The logged ticks whose time since the tick before overlaps the interval from `start` to
    `end` (monotonic seconds)."""
    return [t for t in late if t.at >= start and t.at - (TICK_MS + t.ms) / 1000.0 < end]


def lost_ms(late, start, end):
    """How much of the interval from `start` to `end` the late ticks may have taken from the
    grid: for each logged tick overlapping it, its lateness and one slot."""
    return sum(TICK_MS + t.ms for t in _overlapping(late, start, end))


def tick_count(first, second, late):
    """The fewest and the most ticks the program ran between two moments, each known as an
    (earliest, latest) pair of monotonic seconds (taken to the microsecond)."""
    shortest_ms = round((second[0] - first[1]) * 1000.0, 3)
    longest_ms = round((second[1] - first[0]) * 1000.0, 3)
    fewest = math.floor((shortest_ms - TICK_MS - lost_ms(late, first[0], second[1])) / TICK_MS)
    return max(0, fewest), math.ceil((longest_ms + TICK_MS) / TICK_MS)


def _effect(event):
    """When a key event took effect: from its planned time to the time the X server had it."""
    return event.planned, event.sent


def edge_delay_ms(late, at):
    """The longest time from `at` until the next tick: the time between two ticks, which is at
    most one tick and 5 ms unless the log shows a longer one around `at`."""
    around = [t.ms for t in _overlapping(late, at[0], at[1])]
    return TICK_MS + max([LOG_LIMIT_MS] + around)


def _late_events(events, what):
    """The events that came more than a tick after their planned time (the test's own lateness:
    the intervals the decoder counts are then not the planned ones)."""
    return [f"{what} {i + 1} came {(e.sent - e.planned) * 1000:.0f} ms late"
            for i, e in enumerate(events) if (e.sent - e.planned) * 1000 > TICK_MS]


def _outside(what, counted, window):
    fewest, most = counted
    lowest, highest = window
    if fewest >= lowest and most <= highest:
        return None
    want = f"{lowest}" + (f"..{highest}" if highest != UNLIMITED else " or more")
    return f"{what}: {fewest}..{most} ticks, the decoder needs {want}"


def straight_key(events, late, timing):
    """Why the straight key's decoder could have read the keyed `events` (xkeys.KeyEvent) wrongly
    with the `late` ticks (xkeys.LateTick) and its `timing`; empty when it could not."""
    windows = {
        "dot": (1, timing.dot - 1),
        "dash": (timing.dot, UNLIMITED),
        "element": (GAP_DEBOUNCE_TICKS, timing.decode - 1),
        "character": (timing.decode, timing.blank - 1),
        "word": (timing.blank, UNLIMITED),
    }
    reasons = _late_events(events, "key event")
    for i, (event, following) in enumerate(zip(events, events[1:])):
        what = f"{event.follows}{'' if event.down else ' gap'} after key event {i + 1}"
        reason = _outside(what, tick_count(_effect(event), _effect(following), late),
                          windows[event.follows])
        if reason:
            reasons.append(reason)
    return reasons


def paddle_element_ticks(element, timing):
    """The keyer's tone and its whole element (tone and gap) in ticks."""
    tone = timing.dot if element == "." else 3 * timing.dot
    return tone, tone + timing.dot


def paddles(taps, late, timing):
    """Why the paddle keyer could have sent or decoded the `taps` (xkeys.Tap) wrongly with the
    `late` ticks and its `timing`; empty when it could not.

    A tap counts from the first tick that sees it; a tap no tick saw is lost. The tap that keys
    the next element of a character must be seen from the tick that ends the current tone (a tap
    during the tone is not remembered): until the element's end it is remembered and the next
    element starts after that end, later than the tap, and the tap after must allow for that;
    later it starts the next element at once, up to the tick before the decode. The first tap
    of the next character must be seen after the decode and before the word space, that of the
    next word after the word space."""
    reasons = _late_events(taps, "tap")
    for i, tap in enumerate(taps):
        held_ms = round((tap.held - tap.sent) * 1000, 3)
        if held_ms <= edge_delay_ms(late, (tap.sent, tap.held)):
            reasons.append(f"tap {i + 1}: held {held_ms:.0f} ms, no longer than the time between "
                           "two ticks then: perhaps seen by none")
    after_tap = 0  # ticks from the tap being seen to its element's start, at most
    for i, (tap, following) in enumerate(zip(taps, taps[1:])):
        tone, element = paddle_element_ticks(tap.element, timing)
        fewest, most = tick_count(_effect(tap), _effect(following), late)
        fewest = max(0, fewest - after_tap)
        window = {"memory": (tone, element),
                  "element": (tone, element + timing.decode - 1),
                  "character": (element + timing.decode + 1, element + timing.blank - 1),
                  "word": (element + timing.blank + 1, UNLIMITED)}[tap.follows]
        reason = _outside(f"tap {i + 2} after the {tap.follows} {tap.element!r}",
                          (fewest, most), window)
        if reason:
            reasons.append(reason)
        after_tap = (max(0, element + 1 - fewest) if tap.follows in ("memory", "element")
                     else 0)
    return reasons


def straight_key_tones(events, late):
    """The sidetone's tones for the straight key's `events` as (shortest, longest) ms: each
    lasts from the first tick after its key-down event to the first tick after its key-up event,
    each heard up to a buffer later."""
    bounds = []
    for down, up in zip(events[::2], events[1::2]):
        shortest = (up.planned - down.sent) * 1000 - edge_delay_ms(late, _effect(down))
        longest = (up.sent - down.planned) * 1000 + edge_delay_ms(late, _effect(up))
        bounds.append((shortest - BUFFER_MS, longest + BUFFER_MS))
    return bounds


def straight_key_silence_ms(events, late):
    """The shortest silence the sidetone can leave between two of the straight key's tones:
    any silence shorter than that inside the recording is a dropout."""
    gaps = [(down.planned - up.sent) * 1000 - edge_delay_ms(late, _effect(up)) - BUFFER_MS
            for up, down in zip(events[1::2], events[2::2])]
    return min(gaps, default=UNLIMITED)


def paddle_tones(taps, late, timing):
    """The keyer's tones for the `taps` as (shortest, longest) ms: a tone of n ticks lasts n
    ticks from the tick that starts it, less than a slot either way on the grid, longer by what
    the logged late ticks during it took, and each edge is heard up to a buffer later."""
    bounds = []
    for i, tap in enumerate(taps):
        tone, element = paddle_element_ticks(tap.element, timing)
        until = (taps[i + 1].sent if i + 1 < len(taps)
                 else tap.sent + (element + timing.decode) * TICK_MS / 1000.0)
        ms = tone * TICK_MS
        bounds.append((ms - TICK_MS - BUFFER_MS,
                       ms + TICK_MS + lost_ms(late, tap.planned, until) + BUFFER_MS))
    return bounds


def paddle_silence_ms(timing):
    """The shortest silence between two of the keyer's tones: one dot, each edge a slot and a
    buffer off."""
    return timing.dot * TICK_MS - TICK_MS - BUFFER_MS


def _span_ms(tone):
    return tone.end_ms - tone.start_ms


def _split_by_dropouts(heard, bounds):
    """Whether the tones `heard` (more of them than `bounds`) can be the keyed tones with some of
    them split by dropouts: each keyed tone heard as one or more consecutive tones that sound
    no longer than it can in all and span no more than it and a dropout."""
    @_memo
    def fits(i, k):
        if k == len(bounds):
            return i == len(heard)
        sounding = 0.0
        for j in range(i, len(heard)):
            sounding += heard[j].sounding_ms
            if (sounding > bounds[k][1]
                    or heard[j].end_ms - heard[i].start_ms > bounds[k][1] + DROPOUT_SPAN_MS):
                return False
            if fits(j + 1, k + 1):
                return True
        return False
    return fits(0, 0)


def _memo(function):
    results = {}

    def wrapper(*key):
        if key not in results:
            results[key] = function(*key)
        return results[key]
    return wrapper


def tone_check(heard, bounds):
    """What the tones `heard` (sink_monitor.Tone) show against the keyed tones' `bounds`, each
    tone from its first sound to its last: None when they fit, ("dropout", why) when a dropout
    of the audio may have split a tone in two, ("wrong", what, why) when they cannot be the
    keyed tones; `what` names what is wrong (the tones that are not within their bounds, or
    that there are fewer or more tones), the same for the same fault in another keying."""
    if len(heard) == len(bounds):
        wrong = [i for i, (tone, (lo, hi)) in enumerate(zip(heard, bounds))
                 if not lo <= _span_ms(tone) <= hi]
        if not wrong:
            return None
        return "wrong", tuple(wrong), "; ".join(
            f"tone {i + 1}: {_span_ms(heard[i]):.0f} ms, expected {bounds[i][0]:.0f}.."
            f"{bounds[i][1]:.0f} ms" for i in wrong)
    if len(heard) > len(bounds) and _split_by_dropouts(heard, bounds):
        return "dropout", f"{len(heard)} tones heard for {len(bounds)} keyed, split: {heard}"
    return ("wrong", "fewer tones" if len(heard) < len(bounds) else "more tones",
            f"{len(heard)} tones heard, {len(bounds)} keyed: heard {heard}")


# One keying of a stretch: the text decoded meanwhile, the events sent (key events or taps), the
# late ticks logged by then, and why the decoder may have been disturbed (empty when it was not).
Attempt = collections.namedtuple("Attempt", "text events late reasons")

ATTEMPTS = 3
# Longer than any keyed stretch's decode and word space take, even on a busy machine.
SETTLE_S = 3.0


class Outcome:
    """What keying a stretch until it ran undisturbed showed: `failures` and `not_checked`
    (messages), and every attempt."""

    def __init__(self):
        self.attempts = []
        self.failures = []
        self.not_checked = []


def _word_space_reached(text):
    return text == "" or text.endswith(" ")


def key_until_undisturbed(what, program, key, judge, want, check=None):
    """Keys a stretch with key() (it returns the events it sent) until one keying is
    undisturbed by `judge(events, late ticks)`, at most ATTEMPTS times, each from a word space
    (the decoder starts afresh), and compares the text decoded during that keying with `want`:
    a wrong text then is a failure. `check(attempt)` checks more of an undisturbed keying that
    decoded right; it returns None when that passed, ("failed", message), ("not checked",
    message) when the keying cannot show it (as when the audio dropped out), or ("wrong", what,
    message) when it found `what` wrong, which a dropout can do too: the stretch is keyed again
    then, and the same `what` found wrong in two keyings is a failure. When no keying was
    undisturbed, the decode is reported as not checked; when the check could not be made in
    any, or found something else wrong each time, that is."""
    outcome = Outcome()
    pending = None
    found_wrong = {}  # what the check found wrong: the keying it was first found in
    for n in range(1, ATTEMPTS + 1):
        xkeys.wait_for(lambda: _word_space_reached(program.decoded()), SETTLE_S)
        before = len(program.decoded())
        events = key()
        xkeys.wait_for(lambda: program.decoded()[before:].endswith(" "), SETTLE_S)
        late = program.late_ticks()  # every tick up to the word space has been logged by now
        attempt = Attempt(program.decoded()[before:], events, late, judge(events, late))
        outcome.attempts.append(attempt)
        label = f"{what}, keying {n} of {ATTEMPTS}"
        if attempt.reasons:
            pending = ("not checked", f"{what}: every keying was disturbed (the last: "
                       f"{'; '.join(attempt.reasons)})")
            print(f"{label}: disturbed ({'; '.join(attempt.reasons)}), decoded {attempt.text!r}")
            continue
        if attempt.text != want:
            outcome.failures.append(f"{what}: decoded text: expected {want!r}, got "
                                    f"{attempt.text!r} (the keying was undisturbed)")
            return outcome
        pending = check(attempt) if check is not None else None
        if pending is None:
            print(f"{label}: undisturbed, decoded {attempt.text!r}")
            return outcome
        if pending[0] == "failed":
            outcome.failures.append(pending[1])
            return outcome
        if pending[0] == "wrong":
            _, wrong, message = pending
            if wrong in found_wrong:
                outcome.failures.append(f"{message} (the same in keyings {found_wrong[wrong]} "
                                        f"and {n}, both undisturbed)")
                return outcome
            found_wrong[wrong] = n
            pending = ("not checked", f"{message}, in keying {n} only")
        print(f"{label}: decoded {attempt.text!r}, not checked: {pending[1]}")
    outcome.not_checked.append(pending[1])
    return outcome


def recorded_tones(recorder, events, frequency, hz_tolerance, bounds, silence_ms):
    """Checks the recording of a keyed stretch whose `events` (key events or taps) ran from the
    first one's planned time: the tones at `frequency` within `bounds`, silence shorter than
    `silence_ms` taken as a dropout inside a tone. None when they fit, ("failed", why) for a
    wrong pitch, ("not checked", why) when the sink dropped frames or a dropout may have split a
    tone, ("wrong", what, why) when tones are not the keyed ones (see key_until_undisturbed)."""
    import time

    import sink_monitor
    start, end = events[0].planned - 0.05, events[-1].sent + 0.6
    time.sleep(max(0.0, end + 0.1 - time.monotonic()))  # what was played by `end` has arrived
    dropped = recorder.dropped(start, end)
    if dropped > DROPPED_LIMIT_S:
        return "not checked", (f"the audio server's sink dropped {dropped * 1000:.0f} ms of the "
                               f"{(end - start) * 1000:.0f} ms recorded")
    samples = recorder.samples(start, end)
    heard_hz, _ = sink_monitor.tone_frequency(samples)
    heard = sink_monitor.tones(samples, frequency, silence_ms)
    print(f"  heard {len(heard)} tones at {heard_hz:.1f} Hz, ms: "
          + " ".join(f"{_span_ms(t):.0f}" + (f"({t.pieces} pieces, {t.sounding_ms:.0f} sounding)"
                                             if t.pieces > 1 else "") for t in heard))
    if abs(heard_hz - frequency) > hz_tolerance:
        return "failed", f"sidetone pitch: expected {frequency} Hz, got {heard_hz:.1f} Hz"
    found = tone_check(heard, bounds)
    if found is None:
        return None
    if found[0] == "dropout":
        return "not checked", f"sidetone tones: {found[1]}"
    return "wrong", found[1], f"sidetone tones: {found[2]}"

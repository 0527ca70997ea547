"""The audio server's sink as the end-to-end tests hear it: its monitor recorded (parec; pw-record on PipeWire), each
chunk stamped on arrival so that a stretch of the session can be cut out of the recording and
checked for the tones it should hold."""
import array
import bisect
import os
import subprocess
import threading
import time

RATE = 44100
# The sidetone and the training tones are full-scale sines; silence in the null sink is zero.
LOUD = 2000


def on_pipewire():
    info = subprocess.run(["pactl", "info"], capture_output=True, text=True).stdout
    return "on PipeWire" in info


def recorder_command(latency_ms=5):
    """PulseAudio: parec on the monitor. PipeWire: its own recorder on the sink, since its
    PulseAudio front end loses captured samples when the recorder is late on a busy machine."""
    if on_pipewire():
        return ["pw-record", "-P", "{ stream.capture.sink=true }", "--rate", str(RATE),
                "--channels", "2", "--format", "s16", "--latency", f"{max(latency_ms, 20)}ms",
                "-"]
    return ["parec", "--device=@DEFAULT_MONITOR@", "--raw", "--format=s16le",
            f"--latency-msec={latency_ms}"]


class SinkRecorder:
    """parec on the default sink's monitor, in the monitor's own format (s16le, two channels at
    44 100 Hz; asking parec to convert records nothing with some servers), the left channel kept.
    A short latency makes parec hand over what it recorded as it goes, so that a chunk's arrival
    time is close to the time its samples were played."""

    def __init__(self):
        self._process = subprocess.Popen(recorder_command(), stdout=subprocess.PIPE)
        self._lock = threading.Lock()
        self._samples = array.array("h")
        self._arrivals = []  # (arrival time, frames recorded by then), one per chunk
        self._reader = threading.Thread(target=self._read, daemon=True)
        self._reader.start()

    def _read(self):
        pending = b""
        while True:
            data = os.read(self._process.stdout.fileno(), 16384)
            if not data:
                return
            now = time.monotonic()
            pending += data
            whole = len(pending) // 4 * 4
            left = array.array("h", pending[:whole])[::2]
            pending = pending[whole:]
            with self._lock:
                self._samples.extend(left)
                self._arrivals.append((now, len(self._samples)))

    def wait_running(self, seconds=0.5, timeout=15.0):
        """Waits until the sink has been delivering its samples at its own rate for `seconds`;
        False when it did not within `timeout`. A new stream, as when the program under test
        opens its audio outputs, can hold the null sink up for a while."""
        deadline = time.monotonic() + timeout
        while time.monotonic() < deadline:
            now = time.monotonic()
            if now - self.started_at() >= seconds and self.delivered(now - seconds, now) >= 0.9:
                return True
            time.sleep(0.05)
        return False

    def started_at(self):
        with self._lock:
            return self._arrivals[0][0] if self._arrivals else float("inf")

    def _frames_by(self, moment):
        """How many frames had arrived at `moment`."""
        with self._lock:
            i = bisect.bisect_right(self._arrivals, moment, key=lambda chunk: chunk[0])
            return self._arrivals[i - 1][1] if i > 0 else 0

    def delivered(self, start, end):
        """The share of the frames the sink should have played from `start` to `end` (monotonic
        times) that arrived in that time: about 1 while the sink runs, well below when it
        stalled (a stalled null sink drops that time instead of catching up)."""
        if end <= start:
            return 0.0
        return (self._frames_by(end) - self._frames_by(start)) / ((end - start) * RATE)

    def dropped(self, start, end):
        """Seconds of the sink's time from `start` to `end` that never arrived: a few
        milliseconds while it runs (a chunk on either side of the edges), the length of a stall
        when it stalled."""
        return max(0.0, (end - start) - (self._frames_by(end) - self._frames_by(start)) / RATE)

    def samples(self, start, end):
        """The left channel's samples that arrived from `start` to `end` (monotonic times)."""
        first, last = self._frames_by(start), self._frames_by(end)
        with self._lock:
            return self._samples[first:last]

    def stop(self):
        if self._process.poll() is None:
            self._process.terminate()
        self._process.wait()
        self._reader.join(timeout=5)
        self._process.stdout.close()


def tone_frequency(samples):
    """The frequency of the tones in a recording, from the median length of their cycles, and
    how many milliseconds of it were loud. Cycles are measured between rising zero crossings
    placed by linear interpolation, so the frequency is found to a fraction of a hertz; a jump
    from silence into a tone is no crossing, and the median ignores a cycle broken at a tone's
    start or end. 0 Hz when there is no tone."""
    loud = sum(1 for v in samples if abs(v) > LOUD)
    crossings = [i - 1 + a / (a - b) for i, (a, b) in enumerate(zip(samples, samples[1:]), 1)
                 if a < 0 <= b and b < 8000 and (a < -500 or b > 500)]
    periods = sorted(y - x for x, y in zip(crossings, crossings[1:]) if 20 < y - x < 200)
    if not periods:
        return 0.0, loud * 1000.0 / RATE
    return RATE / periods[len(periods) // 2], loud * 1000.0 / RATE


def bursts(samples, quiet_ms=15, loud=LOUD):
    """The tones in a recording as (start ms, length ms): stretches louder than `loud` separated
    by more than `quiet_ms` of silence (a sine crosses zero inside a tone, so shorter quiet runs
    belong to it)."""
    found = []
    quiet_limit = quiet_ms * RATE // 1000
    start = last = None
    for i, v in enumerate(samples):
        if abs(v) <= loud:
            continue
        if start is not None and i - last > quiet_limit:
            found.append((start * 1000.0 / RATE, (last - start + 1) * 1000.0 / RATE))
            start = None
        if start is None:
            start = i
        last = i
    if start is not None:
        found.append((start * 1000.0 / RATE, (last - start + 1) * 1000.0 / RATE))
    return found


def pieces(samples, tone_hz):
    """Runs of sound in a recording of a tone at `tone_hz` as (first, end) sample indices: loud
    samples less than one period apart (a sine is quiet near its zero crossings)."""
    period = int(RATE / tone_hz) + 1
    found = []
    start = last = None
    for i, v in enumerate(samples):
        if abs(v) <= LOUD:
            continue
        if start is not None and i - last > period:
            found.append((start, last + 1))
            start = None
        if start is None:
            start = i
        last = i
    if start is not None:
        found.append((start, last + 1))
    return found


class Tone:
    """A tone heard: from its first to its last sound (ms into the recording), how much of that
    sounded (ms) and in how many pieces: a dropout of the audio inside a tone leaves silence in
    it."""

    def __init__(self, start_ms, end_ms, sounding_ms, pieces):
        self.start_ms = start_ms
        self.end_ms = end_ms
        self.sounding_ms = sounding_ms
        self.pieces = pieces

    def __repr__(self):
        split = f" in {self.pieces} pieces" if self.pieces > 1 else ""
        return f"{self.sounding_ms:.0f} ms at {self.start_ms:.0f} ms{split}"


def tones(samples, tone_hz, join_ms):
    """The tones in a recording: its pieces of sound, those less than `join_ms` apart joined.
    `join_ms` is the shortest silence the keying leaves between two tones, so that only silence
    a dropout left inside a tone is shorter."""
    found = []
    join = join_ms * RATE / 1000.0
    for first, end in pieces(samples, tone_hz):
        if found and first - found[-1][1] < join:
            found[-1][1] = end
            found[-1][2] += end - first
            found[-1][3] += 1
        else:
            found.append([first, end, end - first, 1])
    ms = 1000.0 / RATE
    return [Tone(first * ms, end * ms, sounding * ms, count)
            for first, end, sounding, count in found]


def kinds(heard, lengths):
    """The kinds of the tones `heard` (Tone) of a stream of composed tones, each by how long it
    sounded: a dropout of the stream delays what follows it, so it stretches a tone's span but
    not its sound. `lengths` are (name, shortest ms, longest ms). A part too short for any kind,
    which a dropout longer than the join split from the rest of its tone, joins the part after
    it, or else the one before it, when together they sound as long as one kind. A tone of no
    kind is named by its length, as "13 ms"."""
    def kind(ms):
        return next((name for name, lo, hi in lengths if lo <= ms <= hi), None)

    shortest = min(lo for _, lo, _ in lengths)
    ms = [t.sounding_ms for t in heard]
    joined = []
    for i, part in enumerate(ms):  # a part joined to the next is read with it
        if part < shortest and i + 1 < len(ms) and kind(part + ms[i + 1]):
            ms[i + 1] += part
        elif (part < shortest and joined and kind(joined[-1]) is not None
              and kind(joined[-1] + part) == kind(joined[-1])):
            joined[-1] += part
        else:
            joined.append(part)
    return [kind(part) or f"{part:.0f} ms" for part in joined]


def sounding(samples, tone_hz, quiet_ms=15, loud=LOUD):
    """The tones in a recording as (start ms, sounding ms, pieces): like bursts, but each tone's
    sound is counted in pieces (loud samples less than a period of the tone apart), so that
    silence a late buffer left inside a tone does not count as tone. Sound is what is louder
    than `loud`."""
    period = int(RATE / tone_hz) + 1
    found = []
    for start_ms, length_ms in bursts(samples, quiet_ms, loud):
        first = int(round(start_ms * RATE / 1000.0))
        last = first + int(round(length_ms * RATE / 1000.0))
        total = 0
        pieces = 0
        piece_start = previous = None
        for i in range(first, min(last, len(samples))):
            if abs(samples[i]) <= loud:
                continue
            if previous is None or i - previous > period:
                if previous is not None:
                    total += previous + 1 - piece_start
                piece_start = i
                pieces += 1
            previous = i
        if previous is not None:
            total += previous + 1 - piece_start
        found.append((start_ms, total * 1000.0 / RATE, pieces))
    return found

"""XTest keying and window lookup for the end-to-end tests, through ctypes (no extra packages)."""
import collections
import ctypes
import ctypes.util
import time

_x11 = ctypes.cdll.LoadLibrary(ctypes.util.find_library("X11") or "libX11.so.6")
_xtst = ctypes.cdll.LoadLibrary(ctypes.util.find_library("Xtst") or "libXtst.so.6")

_x11.XOpenDisplay.restype = ctypes.c_void_p
_x11.XOpenDisplay.argtypes = [ctypes.c_char_p]
_x11.XKeysymToKeycode.argtypes = [ctypes.c_void_p, ctypes.c_ulong]
_x11.XKeysymToKeycode.restype = ctypes.c_ubyte
_x11.XFlush.argtypes = [ctypes.c_void_p]
_x11.XSync.argtypes = [ctypes.c_void_p, ctypes.c_int]
_x11.XDefaultRootWindow.argtypes = [ctypes.c_void_p]
_x11.XDefaultRootWindow.restype = ctypes.c_ulong
_x11.XQueryTree.argtypes = [ctypes.c_void_p, ctypes.c_ulong, ctypes.POINTER(ctypes.c_ulong),
                            ctypes.POINTER(ctypes.c_ulong),
                            ctypes.POINTER(ctypes.POINTER(ctypes.c_ulong)),
                            ctypes.POINTER(ctypes.c_uint)]
_x11.XFetchName.argtypes = [ctypes.c_void_p, ctypes.c_ulong, ctypes.POINTER(ctypes.c_char_p)]
_x11.XSetInputFocus.argtypes = [ctypes.c_void_p, ctypes.c_ulong, ctypes.c_int, ctypes.c_ulong]
_x11.XCreateSimpleWindow.argtypes = [ctypes.c_void_p, ctypes.c_ulong, ctypes.c_int, ctypes.c_int,
                                     ctypes.c_uint, ctypes.c_uint, ctypes.c_uint, ctypes.c_ulong,
                                     ctypes.c_ulong]
_x11.XCreateSimpleWindow.restype = ctypes.c_ulong
_x11.XMapWindow.argtypes = [ctypes.c_void_p, ctypes.c_ulong]
_xtst.XTestFakeKeyEvent.argtypes = [ctypes.c_void_p, ctypes.c_uint, ctypes.c_int, ctypes.c_ulong]
_xtst.XTestFakeMotionEvent.argtypes = [ctypes.c_void_p, ctypes.c_int, ctypes.c_int, ctypes.c_int,
                                       ctypes.c_ulong]
_xtst.XTestFakeButtonEvent.argtypes = [ctypes.c_void_p, ctypes.c_uint, ctypes.c_int,
                                       ctypes.c_ulong]
_x11.XFree.argtypes = [ctypes.c_void_p]


class _XImage(ctypes.Structure):
    """The leading fields of Xlib's XImage, as far as the pixel masks."""
    _fields_ = [("width", ctypes.c_int), ("height", ctypes.c_int), ("xoffset", ctypes.c_int),
                ("format", ctypes.c_int), ("data", ctypes.c_void_p),
                ("byte_order", ctypes.c_int), ("bitmap_unit", ctypes.c_int),
                ("bitmap_bit_order", ctypes.c_int), ("bitmap_pad", ctypes.c_int),
                ("depth", ctypes.c_int), ("bytes_per_line", ctypes.c_int),
                ("bits_per_pixel", ctypes.c_int), ("red_mask", ctypes.c_ulong),
                ("green_mask", ctypes.c_ulong), ("blue_mask", ctypes.c_ulong)]


_x11.XGetImage.argtypes = [ctypes.c_void_p, ctypes.c_ulong, ctypes.c_int, ctypes.c_int,
                           ctypes.c_uint, ctypes.c_uint, ctypes.c_ulong, ctypes.c_int]
_x11.XGetImage.restype = ctypes.POINTER(_XImage)
_x11.XGetPixel.argtypes = [ctypes.POINTER(_XImage), ctypes.c_int, ctypes.c_int]
_x11.XGetPixel.restype = ctypes.c_ulong
_x11.XDestroyImage.argtypes = [ctypes.POINTER(_XImage)]
_ALL_PLANES = 0xFFFFFFFF
_Z_PIXMAP = 2


def _channel(pixel, mask):
    """The 8-bit value of one colour channel of a pixel, from the visual's mask."""
    if mask == 0:
        return 0
    shift = (mask & -mask).bit_length() - 1
    value = (pixel & mask) >> shift
    top = mask >> shift
    return value * 255 // top


class _XWindowAttributes(ctypes.Structure):
    _fields_ = [("x", ctypes.c_int), ("y", ctypes.c_int), ("width", ctypes.c_int),
                ("height", ctypes.c_int), ("border_width", ctypes.c_int),
                ("depth", ctypes.c_int), ("visual", ctypes.c_void_p), ("root", ctypes.c_ulong),
                ("class_", ctypes.c_int), ("bit_gravity", ctypes.c_int),
                ("win_gravity", ctypes.c_int), ("backing_store", ctypes.c_int),
                ("backing_planes", ctypes.c_ulong), ("backing_pixel", ctypes.c_ulong),
                ("save_under", ctypes.c_int), ("colormap", ctypes.c_ulong),
                ("map_installed", ctypes.c_int), ("map_state", ctypes.c_int),
                ("all_event_masks", ctypes.c_long), ("your_event_mask", ctypes.c_long),
                ("do_not_propagate_mask", ctypes.c_long), ("override_redirect", ctypes.c_int),
                ("screen", ctypes.c_void_p)]


_x11.XGetWindowAttributes.argtypes = [ctypes.c_void_p, ctypes.c_ulong,
                                      ctypes.POINTER(_XWindowAttributes)]
_IS_VIEWABLE = 2
_x11.XTranslateCoordinates.argtypes = [ctypes.c_void_p, ctypes.c_ulong, ctypes.c_ulong,
                                       ctypes.c_int, ctypes.c_int, ctypes.POINTER(ctypes.c_int),
                                       ctypes.POINTER(ctypes.c_int),
                                       ctypes.POINTER(ctypes.c_ulong)]

XK_Control_R = 0xFFE4
XK_Control_L = 0xFFE3
XK_Right = 0xFF53
XK_Left = 0xFF51
XK_Escape = 0xFF1B
XK_Return = 0xFF0D
# The main window's command keys used by the tests.
XK_0 = 0x30
XK_e = 0x65
XK_p = 0x70
XK_s = 0x73

MORSE = {
    "a": ".-", "b": "-...", "c": "-.-.", "d": "-..", "e": ".", "f": "..-.", "g": "--.",
    "h": "....", "i": "..", "j": ".---", "k": "-.-", "l": ".-..", "m": "--", "n": "-.",
    "o": "---", "p": ".--.", "q": "--.-", "r": ".-.", "s": "...", "t": "-", "u": "..-",
    "v": "...-", "w": ".--", "x": "-..-", "y": "-.--", "z": "--..", "0": "-----",
    "1": ".----", "2": "..---", "3": "...--", "4": "....-", "5": ".....", "6": "-....",
    "7": "--...", "8": "---..", "9": "----.",
}


# A straight key's event: the monotonic times it was planned for and sent at (the X server had
# it), whether it pressed the key, and what the interval after it is ("dot", "dash" after a
# press; "element", "character", "word" gap after a release).
KeyEvent = collections.namedtuple("KeyEvent", "planned sent down follows")
# A paddle's tap: planned and sent as above (its press), when its release was begun (the paddle
# was down at least from `sent` until then), the element it keys ("." or "-") and what follows
# that element ("memory": the next element tapped during this one's gap, "element",
# "character" or "word").
Tap = collections.namedtuple("Tap", "planned sent held element follows")
# A decode tick of the program that came late: when it ran (monotonic seconds) and how many
# milliseconds more than one tick (10 ms) after the previous tick that was.
LateTick = collections.namedtuple("LateTick", "at ms")


def raise_priority(step=10):
    """Raises this process's scheduling priority by `step` where allowed (as root), so that its
    key events, and the program and the recorder it starts (children keep the priority), keep
    their times better on a busy machine. A keying that ran late all the same is found from the
    logs and keyed again; returns whether the priority was raised."""
    import os
    try:
        os.nice(-step)
    except OSError:
        return False
    return True


def wait_for(predicate, timeout):
    """Polls `predicate` until it holds or `timeout` seconds have passed; its last answer."""
    deadline = time.monotonic() + timeout
    while time.monotonic() < deadline:
        if predicate():
            return True
        time.sleep(0.05)
    return predicate()


# Xlib's default error handler ends the process, which would leave the program under test
# running; a window that the program destroyed between two requests is no reason for that.
_XErrorHandler = ctypes.CFUNCTYPE(ctypes.c_int, ctypes.c_void_p, ctypes.c_void_p)
_x11.XSetErrorHandler.argtypes = [_XErrorHandler]
_x11.XSetErrorHandler.restype = ctypes.c_void_p
_ignore_x_errors = _XErrorHandler(lambda display, event: 0)


class Display:
    def __init__(self):
        self.d = _x11.XOpenDisplay(None)
        if not self.d:
            raise RuntimeError("cannot open the X display")
        _x11.XSetErrorHandler(_ignore_x_errors)

    def key(self, keysym, down):
        code = _x11.XKeysymToKeycode(self.d, keysym)
        _xtst.XTestFakeKeyEvent(self.d, code, 1 if down else 0, 0)
        _x11.XSync(self.d, 0)

    def tap(self, keysym):
        self.key(keysym, True)
        time.sleep(0.02)
        self.key(keysym, False)

    def find_window(self, title, timeout=20.0, shown=False, exact=False):
        """The first window whose name starts with `title` (with `exact`, is `title`), waiting
        for it to appear. With `shown`, only a window on the screen counts: a window that was
        shown before and then hidden is still found by its name."""
        deadline = time.time() + timeout
        while time.time() < deadline:
            found = self._search(_x11.XDefaultRootWindow(self.d), title.encode(), shown, exact)
            if found:
                return found
            time.sleep(0.1)
        return None

    def _search(self, window, title, shown, exact=False):
        name = ctypes.c_char_p()
        if _x11.XFetchName(self.d, window, ctypes.byref(name)) and name.value:
            matches = name.value == title if exact else name.value.startswith(title)
            if matches and (not shown or self.is_viewable(window)):
                return window
        root, parent = ctypes.c_ulong(), ctypes.c_ulong()
        children = ctypes.POINTER(ctypes.c_ulong)()
        count = ctypes.c_uint()
        if not _x11.XQueryTree(self.d, window, ctypes.byref(root), ctypes.byref(parent),
                               ctypes.byref(children), ctypes.byref(count)):
            return None
        for i in range(count.value):
            found = self._search(children[i], title, shown, exact)
            if found:
                return found
        return None

    def click(self, window, x, y):
        """A left click at (x, y) inside `window`."""
        rx, ry, child = ctypes.c_int(), ctypes.c_int(), ctypes.c_ulong()
        _x11.XTranslateCoordinates(self.d, window, _x11.XDefaultRootWindow(self.d), x, y,
                                   ctypes.byref(rx), ctypes.byref(ry), ctypes.byref(child))
        _xtst.XTestFakeMotionEvent(self.d, -1, rx.value, ry.value, 0)
        _xtst.XTestFakeButtonEvent(self.d, 1, 1, 0)
        _xtst.XTestFakeButtonEvent(self.d, 1, 0, 0)
        _x11.XSync(self.d, 0)

    def focus(self, window):
        _x11.XSetInputFocus(self.d, window, 1, 0)
        _x11.XSync(self.d, 0)

    def window_name(self, window):
        name = ctypes.c_char_p()
        if not _x11.XFetchName(self.d, window, ctypes.byref(name)) or name.value is None:
            return None
        text = name.value.decode("utf-8", "replace")
        _x11.XFree(name)
        return text

    def is_viewable(self, window):
        attributes = _XWindowAttributes()
        if not _x11.XGetWindowAttributes(self.d, window, ctypes.byref(attributes)):
            return False
        return attributes.map_state == _IS_VIEWABLE

    def width(self, window):
        """The window's width: its client area, since the tests run without a window manager."""
        attributes = _XWindowAttributes()
        if not _x11.XGetWindowAttributes(self.d, window, ctypes.byref(attributes)):
            return 0
        return attributes.width

    def training_start(self, training):
        """Where to click the training window's START: anchored to the right edge, 95 pixels in
        from it."""
        return self.width(training) - 95 + 40, 8 + 16

    def training_progress(self, training):
        """Where to click the training window's PROGRESSI, right of LIVELLI."""
        return 600, 24

    def training_mostra_box(self, training):
        """Where to click the training window's show box: anchored to the right edge, left of the
        MOSTRA CAR label, which DejaVu Sans makes wider than designed."""
        return self.width(training) - 272 + 7, 16 + 8

    def pixels(self, window, x, y, width, height):
        """The colours of a rectangle of `window` as rows of (r, g, b), read from the screen
        (the window must be mapped and not covered)."""
        image = _x11.XGetImage(self.d, window, x, y, width, height, _ALL_PLANES, _Z_PIXMAP)
        if not image:
            return None
        try:
            masks = image.contents.red_mask, image.contents.green_mask, image.contents.blue_mask
            rows = []
            for row in range(height):
                line = []
                for column in range(width):
                    pixel = _x11.XGetPixel(image, column, row)
                    line.append(tuple(_channel(pixel, m) for m in masks))
                rows.append(line)
            return rows
        finally:
            _x11.XDestroyImage(image)

    def other_window(self):
        w = _x11.XCreateSimpleWindow(self.d, _x11.XDefaultRootWindow(self.d), 0, 0, 50, 50, 0, 0, 0)
        _x11.XMapWindow(self.d, w)
        _x11.XSync(self.d, 0)
        return w

    def key_text(self, text, keysym, dot_seconds, char_gap=None, word_gap=None,
                 element_gap=None, record=None):
        """Keys `text` as a straight key: dashes of three dots, and the given gaps between the
        elements of a character, between characters and between words (by default one, three
        and seven dots). Every key event is sent at its planned time counted from the first one,
        so late wake-ups do not add up. Returns the events (KeyEvent), each with the time it was
        planned for and the time the X server had it, then waits out the last word gap. With a
        `record` list, each press and release is appended to it as (monotonic time, seconds it
        was meant to last): what the keying really was, to tell a keying a busy machine
        disturbed from one the program decoded wrong."""
        element_gap = dot_seconds if element_gap is None else element_gap
        char_gap = 3 * dot_seconds if char_gap is None else char_gap
        word_gap = 7 * dot_seconds if word_gap is None else word_gap
        plan = []  # (seconds from the first event, key down, what the interval after it is)
        at = 0.0
        for word in text.split():
            for c, ch in enumerate(word):
                code = MORSE[ch]
                for i, element in enumerate(code):
                    plan.append((at, True, "dot" if element == "." else "dash"))
                    at += dot_seconds if element == "." else 3 * dot_seconds
                    if i + 1 < len(code):
                        plan.append((at, False, "element"))
                        at += element_gap
                    elif c + 1 < len(word):
                        plan.append((at, False, "character"))
                        at += char_gap
                    else:
                        plan.append((at, False, "word"))
                        at += word_gap
        events = self._send_planned(keysym, plan, at)
        if record is not None:
            ends = [offset for offset, _, _ in plan[1:]] + [at]
            record += [(e.sent, end - offset)
                       for e, end, (offset, _, _) in zip(events, ends, plan)]
        return events

    def _send_planned(self, keysym, plan, length):
        start = time.monotonic()
        events = []
        for offset, down, follows in plan:
            planned = start + offset
            time.sleep(max(0.0, planned - time.monotonic()))
            self.key(keysym, down)
            events.append(KeyEvent(planned, time.monotonic(), down, follows))
        time.sleep(max(0.0, start + length - time.monotonic()))
        return events

    def key_paddles(self, text, dot_seconds, decode_seconds, blank_seconds, remembered=False):
        """Keys `text` on the paddles, one tap for each element: the dot paddle is the right
        keys (Right Ctrl), the dash paddle the left keys (Left Ctrl). The keyer times the
        elements itself from its dot D: a dot is D of tone and D of silence, a dash 3 D and D.

        It takes the next element of a character from a tap made from the end of the current
        tone (a tap during the tone is not remembered) until the decode time after the
        element's end (the character is decoded then), so the tap comes halfway through that
        time; with `remembered`, halfway through the element's gap, so that the keyer remembers
        it and sends it after the gap. The next character is tapped halfway between the decode
        and the word space (the blank time after the element's end), the next word well after
        the word space. Each wait is counted from the previous tap, so late wake-ups do not add
        up. Returns the taps (Tap)."""
        paddles = {".": XK_Control_R, "-": XK_Control_L}
        elements = []  # (element, what follows it: "element", "character" or "word")
        for word in text.split():
            for ch in word:
                code = MORSE[ch]
                within = "memory" if remembered else "element"
                elements += [(e, within) for e in code[:-1]] + [(code[-1], "character")]
            elements[-1] = (elements[-1][0], "word")
        taps = []
        wait = 0.0
        for element, follows in elements:
            planned = taps[-1].sent + wait if taps else time.monotonic()
            time.sleep(max(0.0, planned - time.monotonic()))
            taps.append(self.tap_at(paddles[element], planned, element, follows))
            tone = dot_seconds if element == "." else 3 * dot_seconds
            end = tone + dot_seconds
            if follows == "memory":
                wait = (tone + end) / 2
            elif follows == "element":
                wait = (tone + end + decode_seconds) / 2
            elif follows == "character":
                wait = end + (decode_seconds + blank_seconds) / 2
            else:
                wait = end + blank_seconds + 3 * dot_seconds
        time.sleep(max(0.0, taps[-1].sent + wait - time.monotonic()))
        return taps

    def tap_at(self, keysym, planned, element, follows):
        """A tap of a paddle (20 ms) as a Tap: when it was planned, when the X server had the
        press and when the release was begun, and the element it keys and what follows it."""
        self.key(keysym, True)
        sent = time.monotonic()
        time.sleep(max(0.0, sent + 0.02 - time.monotonic()))
        held = time.monotonic()
        self.key(keysym, False)
        return Tap(planned, sent, held, element, follows)


class Program:
    """The real dittix binary copied into a fresh folder with a settings file of its own (the
    settings live beside the executable; `settings_text` None for no file at all), started, and
    ended by Esc in its main window. With `decoded_log`, the program appends every decoded text
    and word space to a file in that folder (its test hook DITTIX_DECODED_LOG), read back by
    decoded(); with `training_log`, every exercise the training draws and every score's summary
    (DITTIX_TRAINING_LOG), read back by training_log(); with `tick_log`, every decode tick that
    came late (its measurement hook DITTIX_TICK_LOG), read back by late_ticks()."""

    def __init__(self, binary, settings_text, env=None, decoded_log=False, training_log=False,
                 tick_log=False):
        import os
        import shutil
        import subprocess
        import tempfile
        self._folder = tempfile.TemporaryDirectory()
        self.folder = self._folder.name
        shutil.copy(binary, os.path.join(self.folder, "dittix"))
        self.settings = os.path.join(self.folder, "settings.ini")
        if settings_text is not None:
            with open(self.settings, "w") as f:
                f.write(settings_text)
        env = dict(env or {})
        self._decoded_log = os.path.join(self.folder, "decoded.txt") if decoded_log else None
        if self._decoded_log:
            env["DITTIX_DECODED_LOG"] = self._decoded_log
        self._training_log = os.path.join(self.folder, "training.txt") if training_log else None
        if self._training_log:
            env["DITTIX_TRAINING_LOG"] = self._training_log
        self.tick_log = os.path.join(self.folder, "ticks.log") if tick_log else None
        if self.tick_log:
            env["DITTIX_TICK_STATS"] = os.path.join(self.folder, "ticks.txt")
            env["DITTIX_TICK_LOG"] = self.tick_log
        self.process = subprocess.Popen([os.path.join(self.folder, "dittix")], cwd=self.folder,
                                        env=dict(os.environ, **env))
        self.display = Display()
        self.main_window = self.display.find_window("Dittix - by Zorvan")
        if self.main_window is None:
            self.close()
            raise SystemExit("the main window did not appear")
        time.sleep(0.5)

    def saved_settings(self):
        with open(self.settings) as f:
            return f.read()

    def decoded(self):
        """The decoded text so far (empty before the first character)."""
        try:
            with open(self._decoded_log, encoding="utf-8") as f:
                return f.read()
        except FileNotFoundError:
            return ""

    def training_log(self):
        """The lines the training window reported so far: ("exercise", text), ("copy", text),
        and ("summary", line)."""
        try:
            with open(self._training_log, encoding="utf-8") as f:
                return [tuple(line.rstrip("\n").split(" ", 1)) for line in f if " " in line]
        except FileNotFoundError:
            return []

    def late_ticks(self):
        """The decode ticks logged so far as late (more than 5 ms), as LateTick: when the tick
        ran (monotonic seconds: the program's steady clock is the same clock) and how many
        milliseconds more than one tick after the previous tick that was."""
        late = []
        try:
            with open(self.tick_log, encoding="utf-8") as f:
                for line in f:
                    fields = line.split()
                    if len(fields) == 3 and fields[0] == "late":
                        late.append(LateTick(float(fields[1]), float(fields[2])))
        except FileNotFoundError:
            pass
        return late

    def end_with_escape(self):
        """Esc in the main window; False when the program did not end by itself."""
        import subprocess
        self.display.focus(self.main_window)
        self.display.tap(XK_Escape)
        try:
            self.process.wait(timeout=10)
        except subprocess.TimeoutExpired:
            return False
        return self.process.returncode == 0

    def close(self):
        if self.process.poll() is None:
            self.process.kill()
            self.process.wait()
        self._folder.cleanup()

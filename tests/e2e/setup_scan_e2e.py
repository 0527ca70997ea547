"""End to end: the real dittix binary in a private /dev (tests/platform/private_dev.py) whose
only serial devices are pseudo-terminals named ttyUSB1 (COM2) and ttyACM0 (COM17). The 's'
command opens the setup window and scans; the stored key port COM3 is not there, so the first
found port, COM2, becomes the key port; Esc in the setup window writes it, and Esc in the main
window ends the program. Run as: private_dev.py ttyUSB1 ttyACM0 -- python3 setup_scan_e2e.py BIN"""
import os
import sys
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import xkeys  # noqa: E402


def main():
    failures = []
    program = xkeys.Program(sys.argv[1], "[Settings]\nSerial Port=3\n")
    try:
        x = program.display
        x.focus(program.main_window)
        x.tap(0x0073)  # 's'
        setup = x.find_window("Settings", timeout=10)
        if setup is None:
            raise SystemExit("the setup window did not appear")
        time.sleep(0.5)
        x.focus(setup)
        x.tap(xkeys.XK_Escape)
        time.sleep(0.5)
        if not program.end_with_escape():
            failures.append("the program did not end on Esc")
        saved = program.saved_settings()
        if "Serial Port=2\n" not in saved:
            failures.append(f"the scan's fallback port was not saved: {saved!r}")
        if "memoriaPunto=1\n" not in saved or "CPM palette=40\n" not in saved:
            failures.append(f"the setup window's keys were not saved: {saved!r}")
    finally:
        program.close()
    for f in failures:
        print("FAILED:", f)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())

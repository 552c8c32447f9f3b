"""A session: high voltage on after the vacuum check, voltage and
magnification, a stage move followed to its end, automatic focus,
stigmation and contrast/brightness, and two captures.

    python3 session.py --port 22300"""

import argparse
import os
import sys

try:
    import vesk
except ImportError:  # run from a checkout: the package is the folder above
    sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), ".."))
    import vesk

parser = argparse.ArgumentParser(description="A VESK session")
parser.add_argument("--host", default="127.0.0.1")
parser.add_argument("--port", type=int, default=22300)
options = parser.parse_args()

with vesk.Scope(options.host, options.port) as scope:
    print("high voltage:", scope.high_voltage_on().ht_state)  # waits for the vacuum first
    print("voltage:", scope.set_accelerating_voltage(15.0).accelerating_voltage_kv, "kV")
    print("magnification:", scope.set_magnification(1000).magnification)
    position = scope.move_stage(x=1.5, y=-2.0, progress=lambda p: print("  stage at x=%.2f" % p.reading.x))
    print("stage:", position)
    for run in (scope.autofocus(), scope.autostigmate(), scope.auto_contrast_brightness()):
        print(run.reply.code, "still running" if run.still_running else "done", run.reply.as_dict())
    try:
        saved = scope.save_image(r"C:\images\session.tif", format="tiff", data_bar=True)  # ISAV
        print("saved with data bar:", saved.path)
    except vesk.NotServed as error:  # ISAV needs the EnableFenk flag
        print(error)
    captured = scope.capture(r"C:\images\session.bmp")  # IFSS, then IFSR until saved
    print("captured:", captured.path, "at x%d" % captured.magnification)

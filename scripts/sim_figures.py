#!/usr/bin/python3
"""Figures of the simulator's images, to compare models side by side: the
placement lattice in the spectrum, signal-to-noise and noise correlation per
scan speed, what the detector items change, and the cost of a capture.

Starts build/default/app/vesk (or --vesk) at --time-scale 0 for seeds 1-4.
Needs NumPy (Debian: python3-numpy).

  scripts/sim_figures.py [--vesk build/default/app/vesk] [--port 22420]
"""
import argparse
import os
import statistics
import subprocess
import sys
import tempfile
import time

import numpy

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "clients", "python"))
import vesk  # noqa: E402


def start(program, seed, port):
    work = tempfile.mkdtemp()
    service = subprocess.Popen(
        [program, "--registry", os.path.join(HERE, "..", "config", "vesk-both.reg"), "--port", str(port),
         "--time-scale", "0", "--seed", str(seed), "--settings-file", os.path.join(work, "seminfo.ini"),
         "--image-folder", os.path.join(work, "images")],
        env=dict(os.environ, VESK_RUNTIME_DIR=work), stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    time.sleep(0.8)
    return service, os.path.join(work, "images")


def lattice_ratio(pixels):
    """The strongest ring-wise peak of the power spectrum over the ring's
    median: near 10 for an isotropic specimen, far above for a lattice."""
    centred = pixels - pixels.mean()
    power = numpy.abs(numpy.fft.fftshift(numpy.fft.fft2(centred))) ** 2
    rows, columns = power.shape
    y, x = numpy.indices(power.shape)
    radius = numpy.hypot(y - rows / 2, x - columns / 2).astype(int)
    return max(power[radius == r].max() / numpy.median(power[radius == r]) for r in range(6, min(rows, columns) // 2))


def grab(scope, name):
    return scope.capture("C:\\figures\\%s.bmp" % name).read().pixels.astype(float)


def noise_figures(scope, speed):
    scope.set_scan_speed(speed)
    started = time.perf_counter()
    first = grab(scope, "a%d" % speed)
    seconds = time.perf_counter() - started
    second = grab(scope, "b%d" % speed)
    difference = first - second
    noise = difference.std() / 2 ** 0.5
    signal = max(first.var() - noise ** 2, 0.0) ** 0.5
    lag = numpy.corrcoef(difference[:, :-1].ravel(), difference[:, 1:].ravel())[0, 1]
    print("scan speed %d: signal sd / noise sd %.1f, mean / noise sd %.1f, noise lag-1 correlation along the line "
          "%.3f, capture %.2f s" % (speed, signal / noise, first.mean() / noise, lag, seconds))


def detector_figures(scope):
    scope.set_scan_speed(0)
    base = grab(scope, "base")
    again = grab(scope, "again")
    print("two captures alike: mean grey differs by %.2f" % abs(again.mean() - base.mean()))
    for item in range(2, 15):
        setter = getattr(scope, "set_detector_item%d" % item)
        setter(4000)
        print("detector item %d at 4000: mean grey differs by %.2f" % (item, abs(grab(scope, "d%d" % item).mean()
                                                                                 - base.mean())))
        setter(2048)


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--vesk", default=os.path.join(HERE, "..", "build", "default", "app", "vesk"))
    parser.add_argument("--port", type=int, default=22420)
    arguments = parser.parse_args()
    lattice = {}
    for seed in (1, 2, 3, 4):
        service, folder = start(arguments.vesk, seed, arguments.port)
        try:
            with vesk.Scope(port=arguments.port, image_folder=folder) as scope:
                scope.high_voltage_on()
                for magnification in (2000, 5000, 20000):
                    scope.set_magnification(magnification)
                    lattice.setdefault(magnification, []).append(
                        lattice_ratio(grab(scope, "l%d_%d" % (magnification, seed))))
                if seed == 1:
                    scope.set_magnification(5000)
                    for speed in (0, 1, 2, 3):
                        noise_figures(scope, speed)
                    detector_figures(scope)
                    times = []
                    for index in range(5):
                        started = time.perf_counter()
                        grab(scope, "cost%d" % index)
                        times.append(time.perf_counter() - started)
                    print("capture at the fastest scan: median %.3f s (wall, service and client)"
                          % statistics.median(times))
        finally:
            service.terminate()
            service.wait()
    for magnification, ratios in lattice.items():
        print("%dx, seeds 1-4: spectrum peak / ring median %s" % (magnification, " ".join("%.0f" % r for r in ratios)))


if __name__ == "__main__":
    main()

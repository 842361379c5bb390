#!/usr/bin/python3
"""The two FMCW cores as a user would write them with NumPy, timed on the counts that the C++
benchmark wrote to DIR (fmcw_1024.c128: one sweep; fmcw_1048576.c128: 1024 sweeps of 1024).

Usage: numpy_fmcw.py DIR [REPEATS]. Prints one JSON object: the median seconds of each core and,
when DIR holds the map of the C++ core (map_1024x1024.f64), the largest difference in dB between
the two maps and whether they agree on which values are infinite. Range bin 0 and the
standing-still column are left out: removing each sweep's mean and each range bin's mean leaves
rounding residue only there."""

import json
import sys
import time

import numpy as np

FFT_SIZE = 1024
RANGE_BINS = 513


def hamming(n):
    # The program's window: the cosine spans n - 2 samples.
    k = np.arange(n)
    return 0.54 - 0.46 * np.cos(2.0 * np.pi * k / (n - 2.0))


def range_profile(sweep, window):
    spectrum = np.fft.fft(sweep * window, FFT_SIZE)[:RANGE_BINS]
    db = 10.0 * np.log10(spectrum.real ** 2 + spectrum.imag ** 2)
    return db, int(np.argmax(db))


def range_velocity_map(burst, sweeps, samples, window):
    x = burst.reshape(sweeps, samples) * window
    x -= x.mean(axis=1, keepdims=True)
    ranges = np.fft.fft(x, FFT_SIZE, axis=1)[:, :RANGE_BINS]
    ranges -= ranges.mean(axis=0, keepdims=True)
    doppler = np.fft.fft(ranges, FFT_SIZE, axis=0)
    power = doppler.real ** 2 + doppler.imag ** 2
    with np.errstate(divide="ignore"):
        db = 10.0 * np.log10(power)
    return np.fft.fftshift(db, axes=0).T  # range bin by row, velocity by column


def median_seconds(work, repeats):
    times = []
    for _ in range(repeats):
        start = time.perf_counter()
        work()
        times.append(time.perf_counter() - start)
    return float(np.median(times))


def main():
    folder = sys.argv[1]
    repeats = int(sys.argv[2]) if len(sys.argv) > 2 else 15
    sweep = np.fromfile(f"{folder}/fmcw_1024.c128", dtype=np.complex128)
    burst = np.fromfile(f"{folder}/fmcw_1048576.c128", dtype=np.complex128)
    window = hamming(1024)

    result = {
        "range_profile_s": median_seconds(lambda: range_profile(sweep, window), repeats * 100),
        "range_velocity_map_s": median_seconds(
            lambda: range_velocity_map(burst, 1024, 1024, window), repeats),
    }
    try:
        ours = np.fromfile(f"{folder}/map_1024x1024.f64", dtype=np.float64).reshape(RANGE_BINS, FFT_SIZE)
        theirs = range_velocity_map(burst, 1024, 1024, window)
        moving = np.ones(FFT_SIZE, dtype=bool)
        moving[FFT_SIZE // 2] = False
        ours, theirs = ours[1:, moving], theirs[1:, moving]
        finite = np.isfinite(theirs)
        result["map_same_infinities"] = bool(np.array_equal(np.isfinite(ours), finite))
        result["map_largest_difference_db"] = float(np.max(np.abs(ours[finite] - theirs[finite])))
    except FileNotFoundError:
        pass
    print(json.dumps(result))


if __name__ == "__main__":
    main()

"""Progress between frames, and the ways a long call is stopped: a progress callable that
raises, and Ctrl-C."""

import os
import signal
import threading

import numpy as np
import pytest

import tessamire
from conftest import grid
from test_refusals import CHARACTER


def frames_of(points, count):
    return np.stack([points * [1.0, 1.0, 1.0 + 0.01 * f] for f in range(count)])


def test_progress_is_called_between_frames_on_the_calling_thread():
    points, quads = grid(8)
    fix = tessamire.Correction(points, quads, iterations=4)
    frames = frames_of(points, 5)
    calls = []
    result = fix.apply(frames, progress=lambda done, total: calls.append(
        (done, total, threading.get_ident())))
    assert calls == [(f, 5, threading.get_ident()) for f in range(1, 6)]
    assert np.array_equal(result, fix.apply(frames))
    smoothed = []
    fix.smoothed(frames[:2], progress=lambda done, total: smoothed.append(done))
    assert smoothed == [1, 2]


def test_a_progress_that_raises_stops_the_call_and_its_exception_propagates():
    points, quads = grid(8)
    fix = tessamire.Correction(points, quads, iterations=4)
    calls = []

    def stop_at_two(done, total):
        calls.append(done)
        if done == 2:
            raise LookupError("enough")

    with pytest.raises(LookupError, match="enough"):
        fix.apply(frames_of(points, 6), progress=stop_at_two)
    assert calls == [1, 2]
    if os.path.exists(CHARACTER):
        with pytest.raises(LookupError, match="enough"):
            tessamire.import_character(CHARACTER, progress=stop_at_two)
        assert calls == [1, 2, 1, 2]


def test_ctrl_c_stops_a_call_between_frames_with_keyboard_interrupt():
    points, quads = grid(30)
    fix = tessamire.Correction(points, quads, iterations=20)
    frames = frames_of(points, 200)
    first = threading.Event()
    finished = threading.Event()
    done = []

    def interrupt():
        first.wait()
        if not finished.is_set():
            os.kill(os.getpid(), signal.SIGINT)

    def progress(count, total):
        done.append(count)
        first.set()

    killer = threading.Thread(target=interrupt)
    killer.start()
    try:
        with pytest.raises(KeyboardInterrupt):
            fix.apply(frames, progress=progress)
    finally:
        # A call that failed before its first frame leaves the killer nothing to interrupt.
        finished.set()
        first.set()
        killer.join()
    assert 1 <= len(done) < len(frames)
    # The correction serves again afterwards, as before.
    assert np.array_equal(fix.apply(frames[:2]), fix.apply(frames[:2]))

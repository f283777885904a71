"""The sandbox's own clock: this machine's, run ahead or behind by an offset, so that a client
whose clock is off can be tried. The OAuth time-stamp check and every answer's Date header read
it."""

import time

_offset = 0.0


def set_offset(seconds):
    global _offset
    _offset = float(seconds)


def offset():
    return _offset


def now():
    return time.time() + _offset

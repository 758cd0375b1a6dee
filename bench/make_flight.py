#!/usr/bin/env python3
"""Writes bench/flight.rec: about 60 seconds of flying at 30 frames a second.

The camera starts west of the fire looking at it, lifts its gaze, flies past
the fire and circles it over the hills, looks around, and comes back. Each
line is one frame: the frame step in seconds, the mouse movement (dx, dy)
and the button bits (2 = the second button, which flies the camera).
"""
import math
import sys

FPS = 30
DT = repr(1.0 / FPS)

# (seconds, yaw degrees per second, pitch degrees per second, flying)
SEGMENTS = [
    (3.0, 0.0, -3.0, False),   # hover, look down a little at the fire
    (2.0, 0.0, 3.0, True),     # set off towards the fire
    (10.0, 9.0, 0.0, True),    # past the fire, curving right around it
    (8.0, 6.0, 1.0, True),     # over the hills, looking up a touch
    (4.0, -20.0, -2.0, False), # brake and look back to the left
    (9.0, -8.0, 0.0, True),    # fly on, curving left
    (5.0, 30.0, 0.0, False),   # a quick look around on the spot
    (12.0, 7.0, 0.5, True),    # a long sweep back towards the fire
    (7.0, -4.0, -1.0, True),   # and towards it
]


def frames():
    # Mouse units: yaw += dx / 10 and pitch -= dy / 10 per update, and the
    # update runs twice a frame, so one frame's dx turns 2 * dx / 10 degrees.
    carry_x = carry_y = 0.0
    for seconds, yaw_rate, pitch_rate, flying in SEGMENTS:
        for _ in range(round(seconds * FPS)):
            carry_x += yaw_rate / FPS * 10.0 / 2.0
            carry_y += -pitch_rate / FPS * 10.0 / 2.0
            dx, dy = math.trunc(carry_x), math.trunc(carry_y)
            carry_x -= dx
            carry_y -= dy
            yield dx, dy, 2 if flying else 0


def main():
    out = sys.argv[1] if len(sys.argv) > 1 else "bench/flight.rec"
    with open(out, "w") as f:
        f.write("# storm flight: seconds of the frame step, mouse dx, dy, buttons\n")
        f.write("# made by bench/make_flight.py; replay with --seed 6 (lightning strikes in view at frame 98)\n")
        for dx, dy, buttons in frames():
            f.write(f"{DT} {dx} {dy} {buttons}\n")


if __name__ == "__main__":
    main()

// Sine and cosine of the program's own, so that every build computes the
// same scene: C libraries disagree in the last bit for a few per cent of
// arguments (glibc's and the browser build's musl do), and one bit in the
// camera or a leaf's orbit can move a pixel. Accurate to about one unit in
// the last place for the arguments the scene uses (|x| below 10^6).
#pragma once

double trig_sin(double x);
double trig_cos(double x);

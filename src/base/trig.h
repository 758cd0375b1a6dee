// Sine, cosine and hyperbolic tangent of the program's own, so that every
// build computes the same scene and the same sound: C libraries disagree in the last bit for a few
// per cent of arguments (glibc's and the browser build's musl do), and one bit in the camera or a
// leaf's orbit can move a pixel. Accurate to about one unit in the last place for the arguments the
// scene uses (|x| below 10^6).
#pragma once

double trig_sin(double x);
double trig_cos(double x);
// From expf, which both C libraries compute alike; within about 2e-7 of
// tanhf (absolutely: near 0 its relative error grows), which is what a gain
// curve needs.
float trig_tanh(float x);

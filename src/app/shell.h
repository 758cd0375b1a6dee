// Process entry: the order in which the subsystems come up and go down.
#pragma once

// The whole program; returns the process exit code.
int storm_main(int argc, const char* const* argv);

// The same in three parts, for a platform that hands out frames itself (a
// browser): storm_start brings everything up and returns STORM_RUNNING, or
// the exit code of a run that ends before its first frame (--help, a bad
// option, no device); then storm_frame once a frame until it returns false;
// then storm_finish, which takes everything down and returns the exit code.
constexpr int STORM_RUNNING = -1;
int storm_start(int argc, const char* const* argv);
bool storm_frame();
int storm_finish();

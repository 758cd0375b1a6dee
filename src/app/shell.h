// Process entry: the order in which the subsystems come up and go down.
#pragma once

// The whole program; returns the process exit code.
int storm_main(int argc, const char* const* argv);

// Its three parts, which the platform runs (sys_run): storm_start brings
// everything up and returns SYS_RUNNING, or the exit code of a run that ends
// before its first frame (--help, a bad option, no device); then storm_frame
// once a frame until it returns false; then storm_finish, which takes
// everything down and returns the exit code.
int storm_start(int argc, const char* const* argv);
bool storm_frame();
int storm_finish();

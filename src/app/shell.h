// Process entry: the order in which the subsystems come up and go down.
#pragma once

// The whole program; returns the process exit code.
int storm_main(int argc, const char* const* argv);

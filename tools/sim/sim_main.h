// The ca410-sim program as a function, so that other programs (the ca410
// tool's "sim" subcommand) run the very same thing.
#ifndef CA410_SIM_MAIN_H
#define CA410_SIM_MAIN_H

// Parses the ca410-sim command line, serves until SIGINT/SIGTERM/SIGHUP or
// "quit", and returns the exit status. Blocks those signals in the calling
// thread (and the threads it starts) to wait for them.
int ca410_sim_main(int argc, char **argv);

#endif  // CA410_SIM_MAIN_H

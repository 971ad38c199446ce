// Process entry of the server: one argument, the top-level configuration
// file; runs until SIGTERM, SIGINT or another termination signal.

#include "VICTORY/ZOziDaZodOduzuz/ProcessEntry.h"

int main(int argc, char** argv) { return runServerProcess(argc, argv); }

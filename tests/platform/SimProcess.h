#ifndef TESTS_PLATFORM_SIM_PROCESS_H
#define TESTS_PLATFORM_SIM_PROCESS_H

// Runs the FPGA simulator as a child process: once to completion, or in the
// background until stopped. Every wait is bounded.

#include <sys/types.h>

#include <chrono>
#include <string>
#include <vector>

namespace sim_test {

/// Path of the simulator executable of this build.
std::string simulatorPath();

struct Outcome {
    int exitCode = -1;   ///< -1 when it did not exit normally in time
    std::string output;  ///< standard output and error
};

/// Runs the simulator with `args` and waits up to `limit` for it to exit.
Outcome runSimulator(std::vector<std::string> const& args,
                     std::chrono::milliseconds limit = std::chrono::seconds(20));

/// The simulator running in the background.
class RunningSimulator {
public:
    /// Starts it and waits up to `limit` for its "ready" line; ready() tells
    /// whether it came.
    explicit RunningSimulator(std::vector<std::string> const& args,
                              std::chrono::milliseconds limit = std::chrono::seconds(20));
    /// Stops it (stop(SIGTERM)) unless stopped already.
    ~RunningSimulator();
    RunningSimulator(RunningSimulator const&) = delete;
    RunningSimulator& operator=(RunningSimulator const&) = delete;

    bool ready() const { return m_ready; }
    /// Sends `signal`, waits up to 10 s for the exit (then kills it) and
    /// returns the outcome with everything it printed.
    Outcome stop(int signal);

private:
    pid_t m_pid = -1;
    int m_out = -1;
    bool m_ready = false;
    std::string m_output;
};

}  // namespace sim_test

#endif  // TESTS_PLATFORM_SIM_PROCESS_H

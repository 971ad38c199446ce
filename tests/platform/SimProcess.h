#ifndef TESTS_PLATFORM_SIM_PROCESS_H
#define TESTS_PLATFORM_SIM_PROCESS_H

// Runs the FPGA simulator of this build as a child process, once to
// completion or in the background until stopped. Every wait is bounded.

#include <memory>
#include <string>
#include <vector>

namespace corvane_test {
class ChildProcess;
}  // namespace corvane_test

namespace sim_test {

struct Outcome {
    int exitCode = -1;   ///< -1 when it did not exit normally in time
    std::string output;  ///< standard output and error
};

/// Runs the simulator with `args` and waits up to 20 s for it to exit.
Outcome runSimulator(std::vector<std::string> const& args);

/// The simulator running in the background; stopped with SIGTERM at the
/// latest on destruction.
class RunningSimulator {
public:
    /// Starts it and waits up to 20 s for its "ready" line.
    explicit RunningSimulator(std::vector<std::string> const& args);
    ~RunningSimulator();
    RunningSimulator(RunningSimulator const&) = delete;
    RunningSimulator& operator=(RunningSimulator const&) = delete;

    bool ready() const { return m_ready; }
    /// Sends `signal` and waits up to 10 s for the exit (then kills it).
    Outcome stop(int signal);

private:
    std::unique_ptr<corvane_test::ChildProcess> m_child;
    bool m_ready = false;
    std::string m_output;
};

}  // namespace sim_test

#endif  // TESTS_PLATFORM_SIM_PROCESS_H

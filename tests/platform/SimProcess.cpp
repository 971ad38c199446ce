#include "tests/platform/SimProcess.h"

#include "tests/support/ChildProcess.h"

#include <signal.h>

namespace sim_test {

namespace {

using corvane_test::ChildProcess;
using namespace std::chrono;

std::unique_ptr<ChildProcess> start(std::vector<std::string> const& args) {
    std::vector<std::string> argv{FPGA_SIM_PATH};
    argv.insert(argv.end(), args.begin(), args.end());
    return std::make_unique<ChildProcess>(argv);
}

// Waits up to `timeout` for the exit (then kills the child) and collects
// what it wrote after `output`.
Outcome finish(ChildProcess& child, milliseconds timeout, std::string output) {
    std::optional<int> const status = child.wait(timeout);
    if (!status) {
        child.signal(SIGKILL);
        child.wait(seconds(10));
    }
    for (auto stream : {ChildProcess::Stdout, ChildProcess::Stderr}) {
        while (std::optional<std::string> line = child.readLine(stream, milliseconds(100))) output += *line + "\n";
    }
    return {status && *status < 128 ? *status : -1, output};
}

}  // namespace

Outcome runSimulator(std::vector<std::string> const& args) { return finish(*start(args), seconds(20), ""); }

RunningSimulator::RunningSimulator(std::vector<std::string> const& args) : m_child(start(args)) {
    auto const deadline = steady_clock::now() + seconds(20);
    while (!m_ready && steady_clock::now() < deadline) {
        auto const left = duration_cast<milliseconds>(deadline - steady_clock::now());
        std::optional<std::string> const line = m_child->readLine(ChildProcess::Stdout, left);
        if (!line) break;
        m_output += *line + "\n";
        m_ready = *line == "fpga-sim: ready";
    }
}

RunningSimulator::~RunningSimulator() { stop(SIGTERM); }

Outcome RunningSimulator::stop(int signal) {
    if (!m_child) return {-1, m_output};
    m_child->signal(signal);
    Outcome const outcome = finish(*m_child, seconds(10), m_output);
    m_child.reset();
    m_output = outcome.output;
    return outcome;
}

}  // namespace sim_test

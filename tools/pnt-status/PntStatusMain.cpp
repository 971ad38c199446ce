// pnt-status: the PNT position server's status in one screen, as JSON, or
// refreshed once a second; its exit status says whether the server is
// serving (see StatusView.h).

#include "VICTORY/ZOziDaZodOduzuz/StatusSocketPath.h"
#include "tools/pnt-status/StatusClient.h"
#include "tools/pnt-status/StatusView.h"

#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <iostream>
#include <thread>

namespace {

std::atomic<bool> interrupted{false};

void onSignal(int) { interrupted = true; }

int showOnce(const std::string& path, bool asJson, bool clear) {
    std::string error;
    const std::optional<std::string> answer = PntStatus::fetchStatus(path, std::chrono::seconds(2), error);
    if (!answer) {
        std::cerr << "pnt-status: cannot reach the server: " << error << std::endl;
        return PntStatus::kUnreachable;
    }
    const nlohmann::json doc = nlohmann::json::parse(*answer, nullptr, false);
    if (!doc.is_object() || doc.contains("error")) {
        std::cerr << "pnt-status: " << path << ": not a status answer: " << answer->substr(0, 200) << std::endl;
        return PntStatus::kUnreachable;
    }
    if (clear) {
        std::cout << "\033[H\033[2J";
    }
    if (asJson) {
        std::cout << *answer << std::endl;
    } else {
        std::cout << PntStatus::renderScreen(doc) << std::flush;
    }
    return PntStatus::exitStatusFor(doc);
}

}  // namespace

int main(int argc, char** argv) {
    const std::string command = "pnt-status";
    const PntStatus::Options options = PntStatus::parseOptions(std::vector<std::string>(argv + 1, argv + argc));
    if (options.help) {
        std::cout << PntStatus::usage(command);
        return 0;
    }
    if (!options.error.empty()) {
        std::cerr << "pnt-status: " << options.error << " (see --help)" << std::endl;
        return PntStatus::kUsage;
    }
    const std::string path = options.socket.empty() ? statusSocketPath(std::getenv("CORVANE_ROOT")) : options.socket;
    if (!options.watch) {
        return showOnce(path, options.json, false);
    }
    struct sigaction action {};
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    ::sigaction(SIGINT, &action, nullptr);
    ::sigaction(SIGTERM, &action, nullptr);
    const bool clear = !options.json && ::isatty(STDOUT_FILENO) != 0;
    int status = PntStatus::kUnreachable;
    while (!interrupted) {
        status = showOnce(path, options.json, clear);
        const auto next = std::chrono::steady_clock::now() + std::chrono::seconds(1);
        while (!interrupted && std::chrono::steady_clock::now() < next) {
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
    }
    return status;
}

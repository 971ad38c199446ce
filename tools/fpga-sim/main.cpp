// fpga-sim: a simulated FPGA in a memory file, for running the server and
// its tests on a machine without the board.

#include "tools/fpga-sim/FpgaSim.h"

#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <exception>
#include <fstream>
#include <iostream>
#include <string>

namespace {

char const* const kUsage =
    "usage: fpga-sim [options] DEVICES_FILE\n"
    "Fills the register blocks named by DEVICES_FILE in a memory file (offsets\n"
    "are the physical addresses) and keeps the system counter running until\n"
    "SIGINT or SIGTERM.\n"
    "  --memory PATH      memory file (default: $CORVANE_DEVMEM); created and\n"
    "                     grown as needed, never a device\n"
    "  --memory-base ADDR physical address of the memory file's first byte (0;\n"
    "                     a multiple of the page size): for a file that backs a\n"
    "                     virtual machine's RAM\n"
    "  --clock-rate HZ    clock rate register and counter rate (58982400)\n"
    "  --uarts N          number of UARTs (2, at most 16)\n"
    "  --ptfes N          number of PTFE units (1)\n"
    "  --pulses N         number of pulse inputs (2, at most 30)\n"
    "  --periphs N        number of peripherals (4)\n"
    "  --build-date YYYYMMDD, --build-time HHMM   firmware build stamp\n"
    "  --unprogrammed     an FPGA that was never loaded: every block reads all\n"
    "                     ones, the counter does not run\n"
    "  --absent-block NAME  the block NAME reads all zeros, as an address with\n"
    "                     nothing behind it (repeatable)\n"
    "  --once             fill, set the counter once and exit\n"
    "  --ready-file PATH  created once the registers are filled\n"
    "  --remove           remove the memory file on exit\n"
    "Prints \"fpga-sim: ready\" once the registers are filled.\n";

volatile sig_atomic_t g_stop = 0;

void onSignal(int) { g_stop = 1; }

struct Options {
    std::string devices;
    std::string memory;
    std::string readyFile;
    std::uint64_t memoryBase = 0;
    bool once = false;
    bool remove = false;
    fpga_sim::Inventory inventory;
};

[[noreturn]] void usageError(std::string const& text) {
    std::cerr << "fpga-sim: " << text << " (see --help)\n";
    std::exit(2);
}

std::uint64_t number(std::string const& option, char const* text, std::uint64_t max) {
    char* end = nullptr;
    errno = 0;
    unsigned long long const value = std::strtoull(text, &end, 0);
    if (errno != 0 || end == text || *end != '\0' || text[0] == '-' || value > max) {
        usageError(option + ": not a number up to " + std::to_string(max) + ": " + text);
    }
    return value;
}

// Decimal digits read as BCD nibbles: "20210309" -> 0x20210309.
std::uint32_t bcd(std::string const& option, char const* text, std::size_t digits) {
    std::string const s = text;
    if (s.size() != digits || s.find_first_not_of("0123456789") != std::string::npos) {
        usageError(option + ": expected " + std::to_string(digits) + " decimal digits: " + s);
    }
    return static_cast<std::uint32_t>(std::strtoul(s.c_str(), nullptr, 16));
}

Options parse(int argc, char** argv) {
    Options o;
    for (int i = 1; i < argc; ++i) {
        std::string const arg = argv[i];
        auto value = [&]() -> char const* {
            if (i + 1 >= argc) usageError(arg + " needs a value");
            return argv[++i];
        };
        if (arg == "--memory") {
            o.memory = value();
        } else if (arg == "--memory-base") {
            o.memoryBase = number(arg, value(), 0xFFFFFFFFull);
        } else if (arg == "--clock-rate") {
            o.inventory.clockRate = number(arg, value(), 0xFFFFFFFFull);
            if (o.inventory.clockRate == 0) usageError("--clock-rate: must not be 0");
        } else if (arg == "--uarts") {
            o.inventory.uarts = static_cast<std::uint32_t>(number(arg, value(), 16));
        } else if (arg == "--ptfes") {
            o.inventory.ptfes = static_cast<std::uint32_t>(number(arg, value(), 64));
        } else if (arg == "--pulses") {
            o.inventory.pulses = static_cast<std::uint32_t>(number(arg, value(), 30));
        } else if (arg == "--periphs") {
            o.inventory.periphs = static_cast<std::uint32_t>(number(arg, value(), 1024));
        } else if (arg == "--build-date") {
            o.inventory.buildDate = bcd(arg, value(), 8);
        } else if (arg == "--build-time") {
            o.inventory.buildTime = bcd(arg, value(), 4);
        } else if (arg == "--unprogrammed") {
            o.inventory.unprogrammed = true;
        } else if (arg == "--absent-block") {
            o.inventory.absent.push_back(value());
        } else if (arg == "--once") {
            o.once = true;
        } else if (arg == "--ready-file") {
            o.readyFile = value();
        } else if (arg == "--remove") {
            o.remove = true;
        } else if (arg == "--help" || arg == "-h") {
            std::cout << kUsage;
            std::exit(0);
        } else if (!arg.empty() && arg[0] == '-') {
            usageError("unknown option " + arg);
        } else if (o.devices.empty()) {
            o.devices = arg;
        } else {
            usageError("more than one devices file");
        }
    }
    if (o.devices.empty()) usageError("no devices file");
    if (o.memory.empty()) {
        char const* const env = std::getenv("CORVANE_DEVMEM");
        if (env == nullptr || env[0] == '\0') usageError("no memory file: give --memory or set CORVANE_DEVMEM");
        o.memory = env;
    }
    return o;
}

// Written under a temporary name and renamed, so that it appears complete.
bool writeReadyFile(std::string const& path) {
    std::string const tmp = path + ".tmp";
    {
        std::ofstream out(tmp);
        out << "ready\n";
        if (!out) return false;
    }
    return std::rename(tmp.c_str(), path.c_str()) == 0;
}

}  // namespace

int main(int argc, char** argv) {
    Options const o = parse(argc, argv);

    struct sigaction action {};
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    ::sigaction(SIGINT, &action, nullptr);
    ::sigaction(SIGTERM, &action, nullptr);

    int status = 0;
    try {
        fpga_sim::Simulator sim(o.memory, fpga_sim::readDevices(o.devices), o.inventory, o.memoryBase);
        sim.fill();
        for (std::string const& name : sim.missingBlocks()) {
            std::cerr << "fpga-sim: warning: the devices file has no block " << name << "\n";
        }
        sim.tick(fpga_sim::monotonicNow());
        if (o.inventory.unprogrammed) {
            std::cout << "fpga-sim: simulating an unprogrammed FPGA (all ones)\n";
        }
        for (std::string const& name : o.inventory.absent) {
            std::cout << "fpga-sim: simulating an absent block " << name << " (all zeros)\n";
        }
        std::cout << "fpga-sim: " << o.memory << " (" << sim.fileSize() << " bytes), clock " << o.inventory.clockRate
                  << " Hz, " << o.inventory.uarts << " UARTs, " << o.inventory.ptfes << " PTFEs, " << o.inventory.pulses
                  << " pulse inputs, " << o.inventory.periphs << " peripherals\n";
        if (!o.readyFile.empty() && !writeReadyFile(o.readyFile)) {
            throw std::runtime_error(o.readyFile + ": cannot be written");
        }
        std::cout << "fpga-sim: ready" << std::endl;

        // The counter is derived from the clock at every update, so late
        // wake-ups delay an update but never skew the rate.
        timespec const period{0, 250000};
        while (!o.once && g_stop == 0) {
            ::clock_nanosleep(CLOCK_MONOTONIC, 0, &period, nullptr);
            sim.tick(fpga_sim::monotonicNow());
        }
    } catch (std::exception const& e) {
        std::cerr << "fpga-sim: " << e.what() << std::endl;
        status = 1;
    }
    if (o.remove) {
        ::unlink(o.memory.c_str());
    }
    if (!o.once && status == 0) {
        std::cout << "fpga-sim: stopped" << std::endl;
    }
    return status;
}

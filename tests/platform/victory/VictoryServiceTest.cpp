// The services library seen from outside: through its C interface, its
// data bus datagrams, its management port and its standard output.
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <fstream>
#include <limits>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/victory/VictoryDataMessage.h"
#include "platform/victory/victory.h"
#include "platform/victory/victory_test.h"
#include "tests/support/TempDir.h"
#include "tests/support/UdpTestSocket.h"

using namespace std::chrono_literals;
using corvane_test::UdpReceiver;
using Clock = std::chrono::steady_clock;

namespace {

std::string configText(std::uint16_t dataPort, std::uint16_t managementPort = 0) {
  return "<VictoryServiceConfig name='test'><DataBus address='127.0.0.1' port='" +
         std::to_string(dataPort) + "'/><Management port='" + std::to_string(managementPort) +
         "'/></VictoryServiceConfig>";
}

std::string vclText(unsigned long long periodMs) {
  return "<?xml version='1.0'?><vcl:VCL xmlns:vcl='urn:test'><vcl:service type='VICTORY_POSITION'>"
         "<vcl:component type='VICTORY_DATA'><vcl:configItem name='updatePeriod' value='" +
         std::to_string(periodMs) + "'/></vcl:component></vcl:service></vcl:VCL>";
}

victory::DataMessage parse(const std::string& datagram) {
  victory::DataMessage m;
  std::string error;
  EXPECT_TRUE(victory::parseDataMessage(datagram.data(), datagram.size(), m, error))
      << error << "\n"
      << datagram;
  return m;
}

int countEntries(const char* dir) {
  DIR* d = opendir(dir);
  if (d == nullptr) return -1;
  int n = 0;
  while (dirent* e = readdir(d)) {
    if (e->d_name[0] != '.') ++n;
  }
  closedir(d);
  return n;
}

// Polls `condition` until it holds or `timeout` passes.
template <typename F>
bool eventually(F condition, std::chrono::milliseconds timeout = 5000ms) {
  const auto deadline = Clock::now() + timeout;
  while (!condition()) {
    if (Clock::now() > deadline) return false;
    std::this_thread::sleep_for(5ms);
  }
  return true;
}

// Creates a position service with a management port; the port is picked
// free just before, so a rare collision with another process is retried.
VpossService* newPositionWithManagement(std::uint16_t dataPort, const std::string& vcl,
                                        double minPeriod, std::uint16_t& managementPort) {
  for (int attempt = 0; attempt < 5; ++attempt) {
    managementPort = corvane_test::freeUdpPort();
    VpossService* s = vpossNewService(1, 1, 1, configText(dataPort, managementPort).c_str(),
                                      minPeriod, vcl.c_str());
    if (s != nullptr) return s;
  }
  return nullptr;
}

// Redirects file descriptor 1 (and so the stdout stream) into a temporary
// file for the lifetime of the object. Assertions must wait until restore():
// GoogleTest reports failures on stdout.
class StdoutCapture {
 public:
  StdoutCapture() {
    std::fflush(stdout);
    char path[] = "/tmp/victory-stdout-XXXXXX";
    m_fd = ::mkstemp(path);
    m_path = path;
    m_saved = ::dup(1);
    ::dup2(m_fd, 1);
  }
  ~StdoutCapture() {
    restore();
    ::unlink(m_path.c_str());
  }
  void restore() {
    if (m_saved < 0) return;
    std::fflush(stdout);
    ::dup2(m_saved, 1);
    ::close(m_saved);
    ::close(m_fd);
    m_saved = -1;
  }
  std::string text() const {
    std::ifstream in(m_path);
    return std::string(std::istreambuf_iterator<char>(in), {});
  }

 private:
  int m_fd = -1;
  int m_saved = -1;
  std::string m_path;
};

using corvane_test::TempDir;

void writeFile(const std::string& path, const std::string& content) {
  std::ofstream(path, std::ios::binary) << content;
}

const VictoryTime kTime{2024, 1, 1, 0, 0, 0, 250000000};

TEST(VictoryService, SendsTheLatestValuesAtTheConfiguredPeriod) {
  UdpReceiver bus;
  VpossService* s =
      vpossNewService(1, 2, 3, configText(bus.port()).c_str(), 0.0, vclText(200).c_str());
  ASSERT_NE(s, nullptr);
  const VictoryValue lat{0.8417, 1.5e-7, VPOSC_BASIS_MEASURED};
  const VictoryValue lon{-0.2, 2.5e-7, VPOSC_BASIS_MEASURED};
  const VictoryValue alt{512.25, 3.5, VPOSC_BASIS_ESTIMATED};
  vpossTellPosWithMgrs(s, &lat, &lon, &alt, "32UPU9171832133", &kTime);
  vpossStartService(s);

  std::vector<Clock::time_point> arrivals;
  std::vector<victory::DataMessage> messages;
  while (messages.size() < 8) {
    const auto datagram = bus.receive(3000ms);
    ASSERT_TRUE(datagram.has_value()) << "only " << messages.size() << " messages";
    arrivals.push_back(Clock::now());
    messages.push_back(parse(*datagram));
  }
  vpossDeleteService(s);

  const victory::DataMessage& m = messages.front();
  EXPECT_EQ(m.kind, victory::ServiceKind::Position);
  EXPECT_EQ(m.source, "1.2.3");
  ASSERT_EQ(m.values.size(), 3u);
  const VictoryValue told[3] = {lat, lon, alt};
  const char* names[3] = {"latitude", "longitude", "altitude"};
  for (int i = 0; i < 3; ++i) {
    EXPECT_EQ(m.values[i].name, names[i]);
    EXPECT_EQ(m.values[i].value.value, told[i].value);
    EXPECT_EQ(m.values[i].value.uncertainty, told[i].uncertainty);
    EXPECT_EQ(m.values[i].value.basis, told[i].basis);
  }
  EXPECT_EQ(m.mgrs, std::optional<std::string>("32UPU9171832133"));
  ASSERT_TRUE(m.time.has_value());
  EXPECT_EQ(m.time->year, 2024);
  EXPECT_EQ(m.time->nanosecond, 250000000);
  for (std::size_t i = 1; i < messages.size(); ++i) {
    EXPECT_EQ(messages[i].seq, messages[i - 1].seq + 1);
  }

  // The median interval is robust against a loaded machine delaying a few.
  std::vector<double> intervals;
  for (std::size_t i = 1; i < arrivals.size(); ++i) {
    intervals.push_back(std::chrono::duration<double>(arrivals[i] - arrivals[i - 1]).count());
  }
  std::nth_element(intervals.begin(), intervals.begin() + intervals.size() / 2, intervals.end());
  EXPECT_NEAR(intervals[intervals.size() / 2], 0.200, 0.040);
}

// Each family's calls reach a service of its own kind.
TEST(VictoryService, EveryFamilySendsItsOwnKind) {
  UdpReceiver bus;
  const std::string config = configText(bus.port());
  const std::string vcl = vclText(20);
  const VictoryValue v{1.0, 0.1, VPOSC_BASIS_MEASURED};
  const auto next = [&bus] {
    bus.drain();
    const auto d = bus.receive(3000ms);
    return d ? parse(*d) : victory::DataMessage{};
  };
  VorisService* o = vorisNewService(1, 1, 1, config.c_str(), 0.0, vcl.c_str());
  vorisTellOrient(o, &v, &v, &v, nullptr);
  vorisStartService(o);
  EXPECT_EQ(next().values.at(2).name, "yaw");
  vorisDeleteService(o);

  VdotsService* d = vdotsNewService(1, 1, 1, config.c_str(), 0.0, vcl.c_str());
  vdotsTellDot(d, &v, &v, &v, nullptr);
  vdotsStartService(d);
  EXPECT_EQ(next().values.at(2).name, "climb");
  vdotsDeleteService(d);

  VgensService* g = vgensNewService(1, 1, 1, config.c_str(), 0.0, vcl.c_str());
  vgensStartService(g);
  EXPECT_EQ(next().kind, victory::ServiceKind::GenericEndNode);
  vgensDeleteService(g);
}

struct SavedVcl {
  std::mutex mutex;
  int calls = 0;
  void* handle = nullptr;
  std::string text;
};

int saveVcl(void* user, VpossService* handle, const char* newVcl) {
  auto* saved = static_cast<SavedVcl*>(user);
  std::lock_guard<std::mutex> lock(saved->mutex);
  ++saved->calls;
  saved->handle = handle;
  saved->text = newVcl;
  return 0;
}

TEST(VictoryService, ManagementVclChangeReachesTheCallbackAndChangesThePeriod) {
  UdpReceiver bus;
  std::uint16_t managementPort = 0;
  VpossService* s = newPositionWithManagement(bus.port(), vclText(4294967295ull), 0.0,
                                              managementPort);
  ASSERT_NE(s, nullptr);
  SavedVcl saved;
  ASSERT_EQ(vpossInitSaveVclidCallback(s, saveVcl, &saved), 0);
  vpossStartService(s);
  EXPECT_FALSE(bus.receive(300ms).has_value());

  const std::string newVcl = vclText(50);
  corvane_test::sendUdp(managementPort, newVcl);
  ASSERT_TRUE(eventually([&] {
    std::lock_guard<std::mutex> lock(saved.mutex);
    return saved.calls == 1;
  }));
  {
    std::lock_guard<std::mutex> lock(saved.mutex);
    EXPECT_EQ(saved.handle, s);
    EXPECT_EQ(saved.text, newVcl);
  }
  VictoryTestState state{};
  ASSERT_EQ(vpossTestGetState(s, &state), 0);
  EXPECT_EQ(state.updatePeriodMs, 50u);
  EXPECT_DOUBLE_EQ(state.effectivePeriodSeconds, 0.05);
  char vcl[4096];
  EXPECT_EQ(vpossTestGetVcl(s, vcl, sizeof vcl), static_cast<int>(newVcl.size()));
  EXPECT_EQ(std::string(vcl), newVcl);
  // The new period is in force: messages start to flow.
  EXPECT_TRUE(bus.receive(3000ms).has_value());
  EXPECT_TRUE(bus.receive(3000ms).has_value());
  vpossDeleteService(s);
}

TEST(VictoryService, RejectedManagementRequestsWriteASoapFaultToStdout) {
  UdpReceiver bus;
  std::uint16_t managementPort = 0;
  VpossService* s = newPositionWithManagement(bus.port(), vclText(4294967295ull), 1.0,
                                              managementPort);
  ASSERT_NE(s, nullptr);
  SavedVcl saved;
  vpossInitSaveVclidCallback(s, saveVcl, &saved);
  vpossStartService(s);

  const std::string requests[] = {
      "garbage",
      "<notVcl/>",
      "<vcl:VCL><c type='VICTORY_DATA'/></vcl:VCL>",  // VCL without the period item
      vclText(100).substr(0, 60),                      // cut short
      std::string("<vcl:VCL>\0</vcl:VCL>", 20),
      "",
  };
  std::vector<std::string> texts;
  {
    StdoutCapture capture;
    std::size_t seen = 0;
    for (const std::string& request : requests) {
      corvane_test::sendUdp(managementPort, request);
      // One fault text per request; each begins with the marker line.
      eventually([&] { return capture.text().size() > seen; });
      const std::string all = capture.text();
      texts.push_back(all.substr(seen));
      seen = all.size();
    }
    capture.restore();
  }
  ASSERT_EQ(texts.size(), std::size(requests));
  for (std::size_t i = 0; i < texts.size(); ++i) {
    EXPECT_EQ(texts[i].rfind("SOAP 1.2 fault SOAP-ENV:Sender", 0), 0u) << i << ": " << texts[i];
    EXPECT_GT(texts[i].size(), 100u) << texts[i];
    EXPECT_EQ(texts[i].back(), '\n');
  }
  VictoryTestState state{};
  vpossTestGetState(s, &state);
  EXPECT_EQ(state.updatePeriodMs, 4294967295u);
  std::lock_guard<std::mutex> lock(saved.mutex);
  EXPECT_EQ(saved.calls, 0);
  vpossDeleteService(s);
}

TEST(VictoryService, DeleteLeavesNoThreadOrDescriptorBehind) {
  const auto runService = [](int threadsBefore) {
    UdpReceiver bus;
    std::uint16_t managementPort = 0;
    VpossService* s = newPositionWithManagement(bus.port(), vclText(20), 0.0, managementPort);
    ASSERT_NE(s, nullptr);
    vpossStartService(s);
    ASSERT_TRUE(bus.receive(3000ms).has_value());
    EXPECT_GE(countEntries("/proc/self/task"), threadsBefore + 2);
    vpossDeleteService(s);
  };
  // A first round lets runtimes that start helper threads lazily (the
  // thread sanitizer's, for one) do so before the count is taken.
  runService(0);
  const int threadsBefore = countEntries("/proc/self/task");
  const int fdsBefore = countEntries("/proc/self/fd");
  runService(threadsBefore);
  EXPECT_TRUE(eventually([&] { return countEntries("/proc/self/task") <= threadsBefore; }))
      << countEntries("/proc/self/task") << " threads, " << threadsBefore << " before";
  EXPECT_EQ(countEntries("/proc/self/fd"), fdsBefore);
}

TEST(VictoryService, MaximumUpdatePeriodSendsNothingAndStillStopsPromptly) {
  UdpReceiver bus;
  std::uint16_t managementPort = 0;
  VpossService* s = newPositionWithManagement(bus.port(), vclText(4294967295ull), 1.0,
                                              managementPort);
  ASSERT_NE(s, nullptr);
  vpossStartService(s);
  EXPECT_FALSE(bus.receive(500ms).has_value());
  VictoryTestState state{};
  vpossTestGetState(s, &state);
  EXPECT_EQ(state.messagesSent, 0u);
  EXPECT_DOUBLE_EQ(state.effectivePeriodSeconds, 4294967.295);
  const auto before = Clock::now();
  vpossDeleteService(s);
  EXPECT_LT(Clock::now() - before, 5s);
}

TEST(VictoryService, MalformedInputGivesANullHandle) {
  UdpReceiver taken;  // a management port that is already in use
  const std::string good = configText(47001);
  const std::string busy = configText(47001, taken.port());
  const std::string vcl = vclText(1000);
  struct Case {
    const char* config;
    const char* vcl;
    double minPeriod;
  };
  const Case cases[] = {
      {nullptr, vcl.c_str(), 1.0},        {good.c_str(), nullptr, 1.0},
      {vcl.c_str(), good.c_str(), 1.0},   {good.c_str(), "<vcl:VCL/>", 1.0},
      {good.c_str(), vcl.c_str(), NAN},   {good.c_str(), vcl.c_str(), -1.0},
      {busy.c_str(), vcl.c_str(), 1.0},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(vpossNewService(1, 1, 1, c.config, c.minPeriod, c.vcl), nullptr)
        << (c.config ? c.config : "null") << " " << (c.vcl ? c.vcl : "null") << " " << c.minPeriod;
  }
  // An infinite minimum is allowed: the service simply never sends.
  VorisService* never = vorisNewService(1, 1, 1, good.c_str(), INFINITY, vcl.c_str());
  EXPECT_NE(never, nullptr);
  vorisDeleteService(never);
}

TEST(VictoryService, FaultIdsCountUpPerServiceAndTravelInMessages) {
  UdpReceiver bus;
  VpossService* s =
      vpossNewService(1, 1, 1, configText(bus.port()).c_str(), 0.0, vclText(20).c_str());
  ASSERT_NE(s, nullptr);
  const auto add = [s](const char* text, int ack, VhlthcSeverity severity) {
    return vpossAddFault(s, text, ack, severity, VHLTHC_CATEGORY_TEST, VHLTHC_ACTION_REPORT);
  };
  EXPECT_EQ(add("first", 1, VHLTHC_SEVERITY_CRITICAL), 1);
  EXPECT_EQ(add("second", 0, VHLTHC_SEVERITY_WARNING), 2);
  EXPECT_EQ(add(nullptr, 0, VHLTHC_SEVERITY_EMERGENCY), 3);
  vpossRemoveFault(s, 2);
  vpossRemoveFault(s, 2);   // already gone
  vpossRemoveFault(s, 99);  // never existed
  vpossRemoveFault(s, 0);
  EXPECT_EQ(add("fourth", 1, VHLTHC_SEVERITY_ALERT), 4);

  VictoryTestFault faults[8];
  ASSERT_EQ(vpossTestGetFaults(s, faults, 8), 3);
  EXPECT_EQ(faults[0].id, 1);
  EXPECT_STREQ(faults[0].description, "first");
  EXPECT_EQ(faults[0].acknowledged, 1);
  EXPECT_EQ(faults[0].severity, VHLTHC_SEVERITY_CRITICAL);
  EXPECT_EQ(faults[0].category, 22);
  EXPECT_EQ(faults[0].action, 1);
  EXPECT_EQ(faults[1].id, 3);
  EXPECT_STREQ(faults[1].description, "");
  EXPECT_EQ(faults[2].id, 4);
  EXPECT_EQ(vpossTestGetFaults(s, nullptr, 0), 3);

  vpossStartService(s);
  const auto datagram = bus.receive(3000ms);
  ASSERT_TRUE(datagram.has_value());
  const victory::DataMessage m = parse(*datagram);
  EXPECT_EQ(m.faultCount, 3u);
  ASSERT_EQ(m.faults.size(), 3u);
  EXPECT_EQ(m.faults[1].id, 3);
  EXPECT_EQ(m.faults[1].severity, VHLTHC_SEVERITY_EMERGENCY);
  vpossDeleteService(s);

  // Every family counts on its own, from 1.
  const std::string config = configText(47001);
  const std::string vcl = vclText(1000);
  VgpssService* g = vgpssNewService(1, 1, 1, config.c_str(), 1.0, vcl.c_str());
  VapntsService* a = vapntsNewService(1, 1, 1, config.c_str(), 1.0, vcl.c_str());
  for (int id = 1; id <= 2; ++id) {
    EXPECT_EQ(vgpssAddFault(g, "x", 0, VHLTHC_SEVERITY_ERROR, VHLTHC_CATEGORY_TEST,
                            VHLTHC_ACTION_REPORT), id);
    EXPECT_EQ(vapntsAddFault(a, "x", 0, VHLTHC_SEVERITY_ERROR, VHLTHC_CATEGORY_TEST,
                             VHLTHC_ACTION_REPORT), id);
  }
  vgpssRemoveFault(g, 1);
  vapntsRemoveFault(a, 7);
  EXPECT_EQ(vgpssTestGetFaults(g, nullptr, 0), 1);
  EXPECT_EQ(vapntsTestGetFaults(a, nullptr, 0), 2);
  vgpssDeleteService(g);
  vapntsDeleteService(a);
}

TEST(VictoryService, TellsReplaceEverythingIncludingOptionalParts) {
  VpossService* s = vpossNewService(1, 1, 1, configText(47001).c_str(), 1.0, vclText(1000).c_str());
  ASSERT_NE(s, nullptr);
  const VictoryValue v{1.0, 2.0, VPOSC_BASIS_MEASURED};
  VictoryTestState state{};

  vpossTellPosWithMgrs(s, &v, &v, &v, std::string(100, 'M').c_str(), &kTime);
  vpossTestGetState(s, &state);
  EXPECT_EQ(state.hasMgrs, 1);
  EXPECT_EQ(std::string(state.mgrs), std::string(63, 'M'));
  EXPECT_EQ(state.hasTime, 1);

  vpossTellPos(s, nullptr, &v, &v, nullptr);  // no MGRS, no time, no latitude
  vpossTestGetState(s, &state);
  EXPECT_EQ(state.hasMgrs, 0);
  EXPECT_EQ(state.hasTime, 0);
  EXPECT_EQ(state.values[0].value, 0.0);
  EXPECT_TRUE(std::isinf(state.values[0].uncertainty));
  EXPECT_EQ(state.values[0].basis, VPOSC_BASIS_INVALID);
  EXPECT_EQ(state.values[1].uncertainty, 2.0);
  EXPECT_EQ(state.tellCount, 2u);

  vpossTellPosWithMgrs(s, &v, &v, &v, "", &kTime);  // an empty MGRS is none
  vpossTestGetState(s, &state);
  EXPECT_EQ(state.hasMgrs, 0);
  EXPECT_EQ(state.started, 0);
  vpossStartService(s);
  vpossStartService(s);  // a second start changes nothing
  vpossTestGetState(s, &state);
  EXPECT_EQ(state.started, 1);
  vpossDeleteService(s);
}

// Tells race with the sender thread; every message must carry one tell's
// values, never a mix of two.
TEST(VictoryService, ConcurrentTellsAreNeverTorn) {
  UdpReceiver bus;
  VpossService* s =
      vpossNewService(1, 1, 1, configText(bus.port()).c_str(), 0.0, vclText(2).c_str());
  ASSERT_NE(s, nullptr);
  vpossStartService(s);
  std::atomic<bool> stop{false};
  std::thread teller([&] {
    for (int k = 0; !stop; ++k) {
      const VictoryValue v{static_cast<double>(k), static_cast<double>(k), VPOSC_BASIS_MEASURED};
      VictoryTime t = kTime;
      t.nanosecond = k;
      vpossTellPosWithMgrs(s, &v, &v, &v, std::to_string(k).c_str(), &t);
    }
  });
  int checked = 0;
  const auto until = Clock::now() + 400ms;
  while (Clock::now() < until) {
    const auto d = bus.receive(1000ms);
    if (!d) break;
    const victory::DataMessage m = parse(*d);
    if (!m.time) continue;  // before the first tell
    const double k = m.values.at(0).value.value;
    EXPECT_EQ(m.values.at(1).value.value, k);
    EXPECT_EQ(m.values.at(2).value.uncertainty, k);
    EXPECT_EQ(m.time->nanosecond, static_cast<int>(k));
    EXPECT_EQ(m.mgrs, std::to_string(static_cast<int>(k)));
    ++checked;
  }
  stop = true;
  teller.join();
  vpossDeleteService(s);
  EXPECT_GT(checked, 5);
}

TEST(VictoryService, NullHandlesAreIgnored) {
  const VictoryValue v{1.0, 1.0, VPOSC_BASIS_MEASURED};
  vpossTellPosWithMgrs(nullptr, &v, &v, &v, "x", nullptr);
  vpossStartService(nullptr);
  vpossRemoveFault(nullptr, 1);
  vpossDeleteService(nullptr);
  EXPECT_EQ(vgpssAddFault(nullptr, "x", 0, VHLTHC_SEVERITY_ERROR, VHLTHC_CATEGORY_TEST,
                          VHLTHC_ACTION_REPORT),
            0);
  EXPECT_EQ(vpossInitSaveVclidCallback(nullptr, saveVcl, nullptr), -1);
  VictoryTestState state;
  EXPECT_EQ(vpossTestGetState(nullptr, &state), -1);
}

// ---- File helpers -------------------------------------------------------------

TEST(Vutil, ReadReportsEachFailure) {
  TempDir dir;
  writeFile(dir.file("empty"), "");
  writeFile(dir.file("nine"), "123456789");
  writeFile(dir.file("ten"), "1234567890");
  writeFile(dir.file("nul"), std::string("ab\0cd", 5));
  struct Case {
    const char* label;
    std::string path;
    std::size_t maxLength;
    int result;
    const char* text;
  };
  const Case cases[] = {
      {"empty file", dir.file("empty"), 10, VUTIL_OK, ""},
      {"exactly full", dir.file("nine"), 10, VUTIL_OK, "123456789"},
      {"one byte too long", dir.file("ten"), 10, VUTIL_ERR_TOO_LONG, ""},
      {"large buffer", dir.file("ten"), 65536, VUTIL_OK, "1234567890"},
      {"missing", dir.file("missing"), 10, VUTIL_ERR_OPEN, ""},
      {"directory", dir.path(), 10, VUTIL_ERR_IO, ""},
      {"nul byte", dir.file("nul"), 10, VUTIL_ERR_BINARY, ""},
      {"zero length", dir.file("nine"), 0, VUTIL_ERR_ARGUMENT, "untouched"},
  };
  for (const Case& c : cases) {
    char buffer[65536];
    std::strcpy(buffer, "untouched");
    EXPECT_EQ(vutilReadStringFromFile(c.path.c_str(), c.maxLength, buffer), c.result) << c.label;
    EXPECT_STREQ(buffer, c.text) << c.label;
  }
  char buffer[4];
  EXPECT_EQ(vutilReadStringFromFile(nullptr, sizeof buffer, buffer), VUTIL_ERR_ARGUMENT);
  EXPECT_EQ(vutilReadStringFromFile(dir.file("nine").c_str(), 10, nullptr), VUTIL_ERR_ARGUMENT);
}

TEST(Vutil, WriteReplacesTheFileAndLeavesNoTemporaryBehind) {
  TempDir dir;
  const std::string path = dir.file("vcl.xml");
  char buffer[256];
  EXPECT_EQ(vutilWriteStringToFile("a longer first text", path.c_str()), VUTIL_OK);
  EXPECT_EQ(vutilWriteStringToFile("short", path.c_str()), VUTIL_OK);
  EXPECT_EQ(vutilReadStringFromFile(path.c_str(), sizeof buffer, buffer), VUTIL_OK);
  EXPECT_STREQ(buffer, "short");
  EXPECT_EQ(vutilWriteStringToFile("", path.c_str()), VUTIL_OK);
  EXPECT_EQ(vutilReadStringFromFile(path.c_str(), sizeof buffer, buffer), VUTIL_OK);
  EXPECT_STREQ(buffer, "");
  EXPECT_EQ(countEntries(dir.path().c_str()), 1);

  EXPECT_EQ(vutilWriteStringToFile("x", dir.file("no/such/dir").c_str()), VUTIL_ERR_OPEN);
  // A directory cannot be replaced by a file: the old one stays, and the
  // temporary is removed.
  ::mkdir(dir.file("sub").c_str(), 0755);
  EXPECT_EQ(vutilWriteStringToFile("x", dir.file("sub").c_str()), VUTIL_ERR_IO);
  EXPECT_EQ(countEntries(dir.path().c_str()), 2);
  EXPECT_EQ(vutilWriteStringToFile(nullptr, path.c_str()), VUTIL_ERR_ARGUMENT);
  EXPECT_EQ(vutilWriteStringToFile("x", nullptr), VUTIL_ERR_ARGUMENT);
}

}  // namespace

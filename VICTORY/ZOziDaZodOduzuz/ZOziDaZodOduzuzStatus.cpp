// The server's status: the worker's cycle into the status record, and the
// status socket's thread, which answers clients from the record and sends
// the service manager's status line once a second. The socket's thread
// never takes m_dataMutex: what that lock guards reaches it only through
// the record's snapshot.

#include "VICTORY/ZOziDaZodOduzuz/ZOziDaZodOduzuz.h"

#include "ASPN/HealthReporter.h"
#include "PCSMaintReporter/PCSMaintReporter.h"
#include "platform/ServiceManagerNotifier.h"
#include "VICTORY/ZOziDaZodOduzuz/StatusJson.h"
#include "VICTORY/ZOziDaZodOduzuz/StatusServer.h"
#include "VICTORY/ZOziDaZodOduzuz/StatusSocketPath.h"
#include "VICTORY/ZOziDaZodOduzuz/Version.h"
#include "platform/FPGA.h"

#include <pthread.h>
#include <sched.h>

#include <chrono>
#include <cstdlib>
#include <iostream>
#include <stdexcept>

namespace {

// An answer is made again at most this often (seconds) while the worker
// has not completed a cycle since: clients polling fast share it, and its
// ages are at most this much old.
constexpr double kStatusAnswerReuse = 0.1;

double steadySeconds() {
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

// Why the worker's last cycle told no pair, from what it left in the gap.
Status::GapCause gapCause(const NavigationSupervision::Gap& gap) {
    if (!gap.rejected.empty()) {
        return Status::GapCause::Rejected;
    }
    const bool filtered = gap.pvaFilteredSource >= 0 || gap.utcFilteredSource >= 0;
    if (filtered && (gap.pvaMissing || gap.utcMissing)) {
        return Status::GapCause::SourceFiltered;
    }
    if (!std::isnan(gap.deltaTov)) {
        return Status::GapCause::DeltaTov;
    }
    if (gap.pvaMissing && gap.utcMissing) {
        return std::isnan(gap.lastPvaTov) && std::isnan(gap.lastUtcTov) ? Status::GapCause::NoData
                                                                        : Status::GapCause::NoPvaNoUtc;
    }
    if (gap.pvaMissing) {
        return Status::GapCause::NoPva;
    }
    if (gap.utcMissing) {
        return Status::GapCause::NoUtc;
    }
    return Status::GapCause::None;
}

}  // namespace

void ZOziDaZodOduzuz::startStatus() {
    if (m_statusServer) {
        return;
    }
    m_statusAnswer.clear();
    try {
        m_statusServer = std::make_unique<StatusServer>([this] { return statusReply(); }, [this] { statusTick(); });
        const std::string path = statusSocketPath(std::getenv("CORVANE_ROOT"));
        const std::string why = m_statusServer->start(path);
        if (!why.empty()) {
            std::cout << m_name << ": warning: no status socket: " << why << std::endl;
        }
    } catch (const std::exception& e) {
        // The server runs on without a status socket.
        std::cout << m_name << ": warning: no status socket: " << e.what() << std::endl;
        m_statusServer.reset();
    }
}

void ZOziDaZodOduzuz::stopStatus() {
    if (m_statusServer) {
        m_statusServer->stop();
        m_statusServer.reset();
    }
}

void ZOziDaZodOduzuz::recordStatusCycle(bool published) {
    Status::Cycle cycle;
    cycle.now = steadySeconds();
    cycle.published = published;
    if (!m_statusSchedulingRead) {
        // The worker's scheduling is fixed for the run: read it once.
        m_statusSchedulingRead = true;
        int policy = -1;
        sched_param param{};
        if (::pthread_getschedparam(::pthread_self(), &policy, &param) != 0) {
            policy = -1;
        }
        cpu_set_t set;
        CPU_ZERO(&set);
        std::uint64_t mask = 0;
        if (::sched_getaffinity(0, sizeof set, &set) == 0) {
            for (int cpu = 0; cpu < 64; ++cpu) {
                mask |= CPU_ISSET(cpu, &set) ? std::uint64_t{1} << cpu : 0;
            }
        }
        m_statusRecord.setScheduling(policy, param.sched_priority, mask);
    }
    cycle.fpgaCount = FpgaFace::Instance().fpga_get_SystemCount();
    cycle.fpgaValid = cycle.fpgaCount != 0;
    cycle.receiveStalled = m_receiveStalls.stalled();
    cycle.tellDisabled = m_tellDisabled;
    {
        std::lock_guard<std::mutex> lock(m_dataMutex);
        cycle.cause = published ? Status::GapCause::None : gapCause(m_gap);
        cycle.deltaTov = m_cycleDeltaTov;
        cycle.pvaTov = m_lastPvaTov;
        cycle.utcTov = m_lastUtcTov;
        cycle.lost = m_lossDetector.lost();
        const bool switches[3] = {m_processPosition, m_processOrientation, m_processDirectionOfTravel};
        const bool running[3] = {m_positionInitialized, m_orientationInitialized, m_dotInitialized};
        for (int i = 0; i < Status::kServiceCount; ++i) {
            cycle.switchedOn[i] = switches[i];
            cycle.running[i] = running[i];
            cycle.navLossFault[i] = m_navLossFaultIds[i] != 0;
            int active = 0;
            for (int key = 0; key < 10; ++key) {
                active += m_faultHelper.faultId(i + 1, key) != 0 ? 1 : 0;
            }
            cycle.testFaults[i] = active;
        }
        m_statusRecord.endCycle(cycle);
    }
}

std::string ZOziDaZodOduzuz::statusReply() {
    Status::Report r;
    r.haveSnapshot = m_statusRecord.snapshot(r.snapshot);
    r.now = steadySeconds();
    if (r.haveSnapshot && r.snapshot.cycles == m_statusAnswerCycles && r.now - m_statusAnswerAt < kStatusAnswerReuse &&
        !m_statusAnswer.empty()) {
        return m_statusAnswer;
    }
    r.name = m_name;
    r.state = m_state == FACE::LCM::Corvane::ReportedState::STARTED ? "started" : "stopped";
    r.version = std::string(ServerVersion::kPartNumber) + " (" + ServerVersion::kReleaseTimeStamp + ")";
    r.configFile = m_configFilePath;
    r.pvaSource = m_pvaSourceNavigatorServerId;
    r.utcSource = m_utcSourceNavigatorServerId;
    r.pvaCount = m_statusRecord.pvaCount();
    r.utcCount = m_statusRecord.utcCount();
    r.pvaFiltered = m_statusRecord.pvaFiltered();
    r.utcFiltered = m_statusRecord.utcFiltered();
    r.lastForeignSource = m_statusRecord.lastForeignSource();
    HealthReporter& health = HealthReporter::Instance();
    r.healthQueued = health.queue().size();
    r.healthSent = health.sentCount();
    r.healthDropped = health.droppedCount();
    r.maintenanceSent = PCSMaintReporter::Instance().sentCount();
    if (m_tss) {
        // The connections are made before START and taken down only after
        // this thread has been joined.
        r.ddsSecure = m_tss->secure();
        r.ddsIdentity = m_tss->participantName();
        if (r.ddsSecure && !m_tss->securityCertificate().empty()) {
            r.ddsIdentity += " (certificate " + m_tss->securityCertificate() + ")";
        }
        const struct {
            const char* name;
            long long id;
            bool publisher;
        } connections[] = {
            {"PositionVelocityAttitude", m_pvaConnectionId, false},
            {"UTCTime", m_utcConnectionId, false},
            {"Command", m_cmdConnectionId, false},
            {"Response", m_responseConnectionId, true},
            {"EventLog", m_eventLogConnectionId, true},
            {"MaintenanceEvent", m_maintConnectionId, true},
        };
        for (const auto& c : connections) {
            if (c.id < 0) {
                continue;
            }
            try {
                FACE::TSS::CV_TSS::Connection_t& record =
                    m_tss->connectionMap_mutex_at(FACE::TSS::CV_TSS::connectionKey(c.id));
                int matched = 0;
                if (c.publisher && record.m_publisherListener) {
                    matched = record.m_publisherListener->matchedCount();
                } else if (!c.publisher && record.m_subscriberListener) {
                    matched = record.m_subscriberListener->matchedCount();
                }
                r.connections.push_back({c.name, c.publisher ? "publisher" : "subscriber", matched});
            } catch (const std::out_of_range&) {
            }
        }
    }
    m_statusAnswer = Status::toJson(r);
    m_statusAnswerAt = r.now;
    m_statusAnswerCycles = r.haveSnapshot ? r.snapshot.cycles : 0;
    return m_statusAnswer;
}

void ZOziDaZodOduzuz::statusTick() {
    ServiceManagerNotifier& notifier = ServiceManagerNotifier::instance();
    Status::Snapshot snapshot;
    if (!notifier.enabled() || !m_statusRecord.snapshot(snapshot) || snapshot.receiveStalled) {
        // A stalled receive thread has its own status line (the worker's).
        return;
    }
    notifier.status(Status::summaryLine(snapshot, m_pvaSourceNavigatorServerId, steadySeconds()));
}

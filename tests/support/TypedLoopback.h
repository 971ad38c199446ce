// One connection of message type T over UDP on the loopback interface,
// between two transports of this process: the "server" side, whose typed
// transport a test hands to the code under test, and the test's own side,
// which subscribes and keeps every message received with its arrival time.
//
// The connections file lives in a temporary directory of the object. Readers
// are reliable and transient local, so a writer that matches late still
// delivers what its history (HistoryDepth samples) holds.
#ifndef TESTS_SUPPORT_TYPEDLOOPBACK_H
#define TESTS_SUPPORT_TYPEDLOOPBACK_H

#include "FACE/CV_TSS.h"
#include "tests/FACE/TssTestSupport.h"

#include <chrono>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace corvane_test {

template <typename T>
class TypedLoopback {
public:
    using TypedTS = FACE::TSS::Details::CV_TypedTS<T>;
    using Clock = std::chrono::steady_clock;

    struct Sample {
        T message;
        Clock::time_point arrival;
    };

    // `name` is the connection (and topic), `type` its registered type name
    // ("aspn2_msgs::idl::EventLog"), `pubSubType` its type support.
    TypedLoopback(unsigned domain, std::string const& name, std::string const& type, std::string const& pubSubType,
                  int historyDepth = 10) {
        tss_test::neutraliseProfiles();
        tss_test::Settings settings = tss_test::Settings::on(domain);
        settings.historyDepth = std::to_string(historyDepth);
        settings.backFillHistory = "true";
        std::string const file =
            m_dir.write("connections.xml",
                        tss_test::connectionsFile(settings, tss_test::connection(name, type, pubSubType)));
        m_server = tss_test::makeTransport(file, "ServerSide");
        m_test = tss_test::makeTransport(file, "TestSide");
        namespace Code = FACE::RETURN_CODE_TYPE;
        Code::Value rc = m_server.rc == Code::NO_ERROR ? m_test.rc : m_server.rc;
        if (rc == Code::NO_ERROR) m_serverConnection = tss_test::createConnection(*m_server.tss, name.c_str(), rc);
        if (rc == Code::NO_ERROR) m_testConnection = tss_test::createConnection(*m_test.tss, name.c_str(), rc);
        m_serverTS = std::make_shared<TypedTS>();
        m_testTS = std::make_shared<TypedTS>();
        if (rc == Code::NO_ERROR) m_serverTS->Set_Reference("", m_server.tss, 0, rc);
        if (rc == Code::NO_ERROR) m_testTS->Set_Reference("", m_test.tss, 0, rc);
        if (rc != Code::NO_ERROR) return;
        m_testTS->Register_Callback(
            m_testConnection,
            [this](long long, long long, T const& message, FACE::TSS::HEADER_TYPE const&, tss_test::QosList const&,
                   Code::Value&) {
                Clock::time_point const now = Clock::now();
                std::lock_guard<std::mutex> lock(m_mutex);
                m_samples.push_back({message, now});
            },
            rc);
        m_ok = rc == Code::NO_ERROR;
    }

    // The test side goes first: its participant is removed (waiting for a
    // callback in progress) before the received messages are.
    ~TypedLoopback() {
        m_testTS.reset();
        m_test.tss.reset();
    }

    TypedLoopback(TypedLoopback const&) = delete;
    TypedLoopback& operator=(TypedLoopback const&) = delete;

    // Whether both transports, the connection and the subscription exist.
    bool ok() const { return m_ok; }

    // The server side's typed transport (not registered as sender) and its
    // connection id.
    std::shared_ptr<TypedTS> const& serverTS() const { return m_serverTS; }
    long long serverConnection() const { return m_serverConnection; }

    // Registers the server side as sender and waits until the test side's
    // reader has matched it, so that what is sent next arrives as it is
    // sent. False when either fails.
    bool registerAndMatch() {
        FACE::RETURN_CODE_TYPE::Value rc = FACE::RETURN_CODE_TYPE::NO_ACTION;
        m_serverTS->Register_Sender(m_serverConnection, rc);
        if (rc != FACE::RETURN_CODE_TYPE::NO_ERROR && rc != FACE::RETURN_CODE_TYPE::NO_ACTION) return false;
        auto& writer = m_server.tss->connectionMap_mutex_at(FACE::TSS::CV_TSS::connectionKey(m_serverConnection));
        auto& reader = m_test.tss->connectionMap_mutex_at(FACE::TSS::CV_TSS::connectionKey(m_testConnection));
        // Each side discovers the other on its own: both must have matched.
        return tss_test::waitFor([&] {
            return writer.m_publisherListener->matchedCount() > 0 && reader.m_subscriberListener->matchedCount() > 0;
        });
    }

    std::vector<Sample> received() {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_samples;
    }
    std::size_t count() { return received().size(); }
    // Waits until at least `n` messages have arrived.
    bool waitForCount(std::size_t n, std::chrono::milliseconds timeout = std::chrono::seconds(10)) {
        return tss_test::waitFor([&] { return count() >= n; }, timeout);
    }

private:
    face_test::TempDir m_dir;
    tss_test::Transport m_server, m_test;
    long long m_serverConnection = -1, m_testConnection = -1;
    std::shared_ptr<TypedTS> m_serverTS, m_testTS;
    bool m_ok = false;
    std::mutex m_mutex;
    std::vector<Sample> m_samples;
};

}  // namespace corvane_test

#endif  // TESTS_SUPPORT_TYPEDLOOPBACK_H

// The typed transport: injection, the return codes of every operation, and
// samples travelling between two transports of this process.

#include "TssTestSupport.h"

#include "aspn2_msgs/CommandResponse.h"
#include "aspn2_msgs/IMU.h"

#include <gtest/gtest.h>

#include <atomic>
#include <mutex>
#include <vector>

namespace {

using namespace tss_test;
using FACE::RETURN_CODE_TYPE::CONNECTION_CLOSED;
using FACE::RETURN_CODE_TYPE::INVALID_PARAM;
using FACE::RETURN_CODE_TYPE::NO_ACTION;
using FACE::RETURN_CODE_TYPE::NO_ERROR;
using FACE::RETURN_CODE_TYPE::NOT_AVAILABLE;
using QosList = FACE::Sequence<FACE::TSS::QoS_Element>;

// A transport that is not the system's own.
class OtherTransport : public FACE::TSS::Base {
public:
    void Initialize(FACE::String const&, RC& rc) override { rc = NO_ERROR; }
    void Create_Connection(FACE::String const&, long long, long long& id, int&, RC& rc) override {
        id = 0;
        rc = NO_ERROR;
    }
    void Destroy_Connection(long long, RC& rc) override { rc = NO_ERROR; }
    void Unregister_Sender(long long, RC& rc) override { rc = NO_ERROR; }
    void Unregister_Callback(long long, RC& rc) override { rc = NO_ERROR; }
};

void ignore(long long, long long, UTCTime const&, FACE::TSS::HEADER_TYPE const&, QosList const&, RC&) {}

// The codes of Register_Sender, Send_Message and Register_Callback on `id`.
std::vector<RC> typedCodes(TypedUtc& typed, long long id) {
    std::vector<RC> codes(3, NO_ERROR);
    long long transaction = 5;
    typed.Register_Sender(id, codes[0]);
    typed.Send_Message(id, 0, transaction, UTCTime(), codes[1]);
    typed.Register_Callback(id, ignore, codes[2]);
    return codes;
}

// Received samples, copied out of the callback under a lock.
struct Inbox {
    struct Entry {
        long long connection;
        long long transaction;
        UTCTime message;
        FACE::TSS::HEADER_TYPE header;
        std::string qos;
    };
    std::mutex mutex;
    std::vector<Entry> entries;

    FACE::TSS::Read_Callback<UTCTime> callback() {
        return [this](long long connection, long long transaction, UTCTime const& m, FACE::TSS::HEADER_TYPE const& h,
                      QosList const& qos, RC& rc) {
            EXPECT_EQ(rc, NO_ERROR);
            std::lock_guard<std::mutex> lock(mutex);
            entries.push_back({connection, transaction, m, h, qosText(qos)});
        };
    }
    std::size_t size() {
        std::lock_guard<std::mutex> lock(mutex);
        return entries.size();
    }
    Entry at(std::size_t i) {
        std::lock_guard<std::mutex> lock(mutex);
        return entries.at(i);
    }
};

class TypedTransport : public ::testing::Test {
protected:
    void SetUp() override { neutraliseProfiles(); }
    face_test::TempDir m_dir;
};

TEST_F(TypedTransport, SetReferenceAcceptsOnlyTheSystemsTransport) {
    struct Case {
        char const* what;
        std::shared_ptr<FACE::TSS::Base> transport;
        RC rc;
    } const cases[] = {
        {"empty", nullptr, INVALID_PARAM},
        {"another implementation", std::make_shared<OtherTransport>(), INVALID_PARAM},
        {"CV_TSS", std::make_shared<FACE::TSS::CV_TSS>("T"), NO_ERROR},
    };
    for (Case const& c : cases) {
        TypedUtc typed;
        RC rc = NO_ACTION;
        typed.Set_Reference("", c.transport, 0, rc);
        EXPECT_EQ(rc, c.rc) << c.what;
        // Unusable after a refused reference; not initialised after an accepted one.
        EXPECT_EQ(typedCodes(typed, 0), std::vector<RC>(3, NOT_AVAILABLE)) << c.what;
        if (c.rc == NO_ERROR) {
            typed.Set_Reference("", std::make_shared<FACE::TSS::CV_TSS>("U"), 0, rc);
            EXPECT_EQ(rc, NOT_AVAILABLE) << "a second transport";
        }
    }
}

TEST_F(TypedTransport, ReturnCodesOfTheTypedOperations) {
    Transport t = makeTransport(m_dir.write("c.xml", connectionsFile(Settings::on(kTypedCodesDomain))));
    ASSERT_EQ(t.rc, NO_ERROR);
    RC rc = NO_ACTION;
    long long const id = createConnection(*t.tss, "UTCTime", rc);
    ASSERT_EQ(rc, NO_ERROR);
    auto typed = typedOver(t.tss);
    ASSERT_NE(typed, nullptr);

    for (long long unknown : {42LL, -1LL}) {
        EXPECT_EQ(typedCodes(*typed, unknown), std::vector<RC>(3, INVALID_PARAM)) << unknown;
    }

    long long transaction = 77;
    typed->Send_Message(id, 0, transaction, UTCTime(), rc);
    EXPECT_EQ(rc, NOT_AVAILABLE) << "no sender registered";

    FACE::TSS::CV_TSS::Connection_t& record = t.tss->connectionMap_mutex_at(0);
    typed->Register_Sender(id, rc);
    EXPECT_EQ(rc, NO_ERROR);
    eprosima::fastrtps::Publisher* const publisher = record.m_publisher;
    typed->Register_Sender(id, rc);
    EXPECT_EQ(rc, NO_ACTION);
    EXPECT_EQ(record.m_publisher, publisher) << "the first publisher stays";

    typed->Send_Message(id, 0, transaction, sampleNumber(1), rc);
    EXPECT_EQ(rc, NO_ERROR);
    EXPECT_EQ(transaction, 77) << "the transaction id is left alone";

    Inbox first;
    Inbox second;
    typed->Register_Callback(id, first.callback(), rc);
    EXPECT_EQ(rc, NO_ERROR);
    typed->Register_Callback(id, second.callback(), rc);
    EXPECT_EQ(rc, NO_ACTION);
    typed->Send_Message(id, 0, transaction, sampleNumber(2), rc);
    EXPECT_EQ(rc, NO_ERROR);
    EXPECT_TRUE(waitFor([&] { return first.size() >= 1; }));
    EXPECT_EQ(second.size(), 0u) << "the first callback stays in force";

    // Another message type over the same transport.
    auto imu = std::make_shared<FACE::TSS::Details::CV_TypedTS<aspn2_msgs::idl::IMU>>();
    imu->Set_Reference("", t.tss, 0, rc);
    EXPECT_EQ(rc, NO_ERROR);

    try {
        UTCTime m;
        FACE::TSS::HEADER_TYPE h;
        QosList qos;
        typed->Receive_Message(id, 0, transaction, m, h, qos, rc);
        ADD_FAILURE() << "Receive_Message returned";
    } catch (std::runtime_error const& e) {
        EXPECT_STREQ(e.what(), "CV_TypedTS::Receive_Message() is not supported.");
    }
    t.tss->Unregister_Callback(id, rc);
    EXPECT_EQ(rc, NO_ERROR);
}

TEST_F(TypedTransport, EntitiesThatCannotBeCreatedGiveConnectionClosed) {
    // A topic type that no type support registered, and a history depth
    // that no QoS accepts.
    Settings s = Settings::on(kTypedFailuresDomain);
    std::string const mismatch = connection("Mismatch", "some::Other", "UTCTimePubSubType");
    struct Case {
        std::string depth;
        char const* connection;
        char const* senderError;
        char const* callbackError;
    } const cases[] = {
        {"10", "Mismatch", "Participant TssTest error creating publisher for topic: Mismatch\n",
         "Participant TssTest error creating subscriber for topic: Mismatch\n"},
        {"-5", "UTCTime", "Participant TssTest invalid publisher QOS for topic: UTCTime; see error log\n",
         "Participant TssTest invalid subscriber QOS for topic: UTCTime; see error log\n"},
    };
    for (Case const& c : cases) {
        s.historyDepth = c.depth;
        Transport t = makeTransport(m_dir.write("c.xml", connectionsFile(s, mismatch)));
        ASSERT_EQ(t.rc, NO_ERROR);
        RC rc = NO_ACTION;
        long long const id = createConnection(*t.tss, c.connection, rc);
        ASSERT_EQ(rc, NO_ERROR);
        auto typed = typedOver(t.tss);

        testing::internal::CaptureStderr();
        typed->Register_Sender(id, rc);
        std::string const senderError = testing::internal::GetCapturedStderr();
        EXPECT_EQ(rc, CONNECTION_CLOSED) << c.connection;
        EXPECT_NE(senderError.find(c.senderError), std::string::npos) << senderError;

        testing::internal::CaptureStderr();
        typed->Register_Callback(id, ignore, rc);
        std::string const callbackError = testing::internal::GetCapturedStderr();
        EXPECT_EQ(rc, CONNECTION_CLOSED) << c.connection;
        EXPECT_NE(callbackError.find(c.callbackError), std::string::npos) << callbackError;

        FACE::TSS::CV_TSS::Connection_t& record = t.tss->connectionMap_mutex_at(0);
        EXPECT_FALSE(record.isPublisher());
        EXPECT_FALSE(record.isSubscriber());
        EXPECT_EQ(record.m_publisherListener, nullptr);
        EXPECT_EQ(record.m_subscriberListener, nullptr);
    }
}

TEST_F(TypedTransport, SamplesArriveWithHeaderAndQos) {
    std::string const file = m_dir.write("c.xml", connectionsFile(Settings::on(kInProcessDomain)));
    Transport sender = makeTransport(file, "Sender");
    Transport receiver = makeTransport(file, "Receiver");
    ASSERT_EQ(sender.rc, NO_ERROR);
    ASSERT_EQ(receiver.rc, NO_ERROR);
    RC rc = NO_ACTION;
    long long const out = createConnection(*sender.tss, "UTCTime", rc);
    long long const in = createConnection(*receiver.tss, "UTCTime", rc);
    auto writer = typedOver(sender.tss);
    auto reader = typedOver(receiver.tss);
    writer->Register_Sender(out, rc);
    ASSERT_EQ(rc, NO_ERROR);

    // A callback that throws must not take the reception thread down.
    std::atomic<int> calls{0};
    Inbox inbox;
    auto inboxCallback = inbox.callback();
    reader->Register_Callback(
        in,
        [&](long long c, long long t, UTCTime const& m, FACE::TSS::HEADER_TYPE const& h, QosList const& q, RC& r) {
            if (calls++ == 1) throw std::runtime_error("callback failure");
            inboxCallback(c, t, m, h, q, r);
        },
        rc);
    ASSERT_EQ(rc, NO_ERROR);
    FACE::TSS::CV_TSS::Connection_t& pub = sender.tss->connectionMap_mutex_at(0);
    FACE::TSS::CV_TSS::Connection_t& sub = receiver.tss->connectionMap_mutex_at(0);
    ASSERT_TRUE(waitFor([&] { return pub.m_publisherListener->matchedCount() == 1 &&
                                     sub.m_subscriberListener->matchedCount() == 1; }));

    long long const before = std::chrono::duration_cast<std::chrono::nanoseconds>(
                                 std::chrono::system_clock::now().time_since_epoch()).count();
    testing::internal::CaptureStderr();
    for (long long i = 1; i <= 3; ++i) {
        long long transaction = 0;
        writer->Send_Message(out, 0, transaction, sampleNumber(i), rc);
        ASSERT_EQ(rc, NO_ERROR);
    }
    ASSERT_TRUE(waitFor([&] { return inbox.size() == 2; }));
    std::string const errors = testing::internal::GetCapturedStderr();
    EXPECT_NE(errors.find("callback failure"), std::string::npos) << errors;

    long long const expectedTransactions[] = {1, 3};
    for (std::size_t k = 0; k < 2; ++k) {
        Inbox::Entry const e = inbox.at(k);
        EXPECT_EQ(e.connection, in);
        EXPECT_EQ(e.transaction, expectedTransactions[k]);
        EXPECT_EQ(e.message, sampleNumber(expectedTransactions[k]));
        EXPECT_EQ(e.header.sender_id, FACE::TSS::Listeners::GuidToUid(pub.m_publisher->getGuid()));
        EXPECT_EQ(e.header.receiver_id, FACE::TSS::Listeners::GuidToUid(sub.m_subscriber->getGuid()));
        EXPECT_GE(e.header.source_time, before - 1'000'000'000);
        EXPECT_LE(e.header.source_time, before + 60'000'000'000);
        EXPECT_EQ(e.qos,
                  "DurabilityQosPolicy=VOLATILE_DURABILITY_QOS,LivelinessQosPolicy=AUTOMATIC_LIVELINESS_QOS,"
                  "ReliabilityQosPolicy=RELIABLE_RELIABILITY_QOS");
    }

    // Unregistered: nothing more arrives, and the sender notices the loss.
    receiver.tss->Unregister_Callback(in, rc);
    EXPECT_EQ(rc, NO_ERROR);
    EXPECT_TRUE(waitFor([&] { return pub.m_publisherListener->matchedCount() == 0; }));
    long long transaction = 0;
    writer->Send_Message(out, 0, transaction, sampleNumber(4), rc);
    EXPECT_EQ(rc, NO_ERROR);
    EXPECT_EQ(inbox.size(), 2u);
}

TEST_F(TypedTransport, ServerMessageTypesTravel) {
    // CommandResponse holds an enumeration and a string: the variable-size path.
    std::string const extra = connection("Command", "aspn2_msgs::idl::CommandResponse", "CommandResponsePubSubType");
    Transport t = makeTransport(m_dir.write("c.xml", connectionsFile(Settings::on(kCommandDomain), extra)));
    ASSERT_EQ(t.rc, NO_ERROR);
    RC rc = NO_ACTION;
    long long const id = createConnection(*t.tss, "Command", rc);
    ASSERT_EQ(rc, NO_ERROR);
    auto typed = std::make_shared<FACE::TSS::Details::CV_TypedTS<aspn2_msgs::idl::CommandResponse>>();
    typed->Set_Reference("", t.tss, 0, rc);
    std::mutex mutex;
    std::vector<aspn2_msgs::idl::CommandResponse> received;
    typed->Register_Callback(
        id,
        [&](long long, long long, aspn2_msgs::idl::CommandResponse const& m, FACE::TSS::HEADER_TYPE const&,
            QosList const&, RC&) {
            std::lock_guard<std::mutex> lock(mutex);
            received.push_back(m);
        },
        rc);
    ASSERT_EQ(rc, NO_ERROR);
    typed->Register_Sender(id, rc);
    ASSERT_EQ(rc, NO_ERROR);
    ASSERT_TRUE(waitFor([&] { return t.tss->connectionMap_mutex_at(0).m_publisherListener->matchedCount() == 1; }));
    aspn2_msgs::idl::CommandResponse command;
    command.header().seq_num(9);
    command.commanded_device_id(0x012D0000);
    command.command_identifier(4);
    command.command_response_type(aspn2_msgs::idl::COMMAND_RESPONSE_TYPE_RESPONSE);
    command.command_response(std::string(200, 'r') + " done");
    long long transaction = 0;
    typed->Send_Message(id, 0, transaction, command, rc);
    EXPECT_EQ(rc, NO_ERROR);
    ASSERT_TRUE(waitFor([&] {
        std::lock_guard<std::mutex> lock(mutex);
        return !received.empty();
    }));
    std::lock_guard<std::mutex> lock(mutex);
    EXPECT_EQ(received[0], command);
}

}  // namespace

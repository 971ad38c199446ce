// The typed transport: injection, the return codes of every operation, and
// samples travelling within this process.

#include "TssTestSupport.h"

#include "aspn2_msgs/CommandResponse.h"

#include <gtest/gtest.h>

#include <atomic>

namespace {

using namespace tss_test;
using namespace FACE::RETURN_CODE_TYPE;

// A transport that is not the system's own.
class OtherTransport : public FACE::TSS::Base {
public:
    void Initialize(FACE::String const&, RC& rc) override { rc = NO_ERROR; }
    void Create_Connection(FACE::String const&, long long, long long& id, int&, RC& rc) override {
        id = 0, rc = NO_ERROR;
    }
    void Destroy_Connection(long long, RC& rc) override { rc = NO_ERROR; }
    void Unregister_Sender(long long, RC& rc) override { rc = NO_ERROR; }
    void Unregister_Callback(long long, RC& rc) override { rc = NO_ERROR; }
};

// The codes of Register_Sender, Send_Message and Register_Callback on `id`.
std::vector<RC> typedCodes(TypedUtc& typed, long long id) {
    std::vector<RC> codes(3, NO_ERROR);
    long long transaction = 5;
    typed.Register_Sender(id, codes[0]);
    typed.Send_Message(id, 0, transaction, UTCTime(), codes[1]);
    typed.Register_Callback(id, ignoreSample, codes[2]);
    return codes;
}

class TypedTransport : public ::testing::Test {
protected:
    void SetUp() override { neutraliseProfiles(); }
    face_test::TempDir m_dir;
};

TEST_F(TypedTransport, SetReferenceAcceptsOnlyTheSystemsTransport) {
    std::pair<std::shared_ptr<FACE::TSS::Base>, RC> const cases[] = {
        {nullptr, INVALID_PARAM},
        {std::make_shared<OtherTransport>(), INVALID_PARAM},
        {std::make_shared<FACE::TSS::CV_TSS>("T"), NO_ERROR}};
    for (auto const& [transport, expected] : cases) {
        TypedUtc typed;
        RC rc = NO_ACTION;
        typed.Set_Reference("", transport, 0, rc);
        EXPECT_EQ(rc, expected);
        // Unusable after a refused reference, not initialised after an accepted one.
        EXPECT_EQ(typedCodes(typed, 0), std::vector<RC>(3, NOT_AVAILABLE));
        typed.Set_Reference("", std::make_shared<FACE::TSS::CV_TSS>("U"), 0, rc);
        EXPECT_EQ(rc, expected == NO_ERROR ? NOT_AVAILABLE : NO_ERROR) << "only the first transport is taken";
    }
}

TEST_F(TypedTransport, ReturnCodesAndSamplesWithinOneTransport) {
    Inbox<> inbox, second;  // outlive the participant
    Transport t = makeTransport(m_dir.write("c.xml", connectionsFile(Settings::on(kTypedCodesDomain))));
    ASSERT_EQ(t.rc, NO_ERROR);
    RC rc = NO_ACTION;
    long long const id = createConnection(*t.tss, "UTCTime", rc);
    auto typed = typedOver(t.tss);
    for (long long unknown : {42LL, -1LL}) {
        EXPECT_EQ(typedCodes(*typed, unknown), std::vector<RC>(3, INVALID_PARAM)) << unknown;
    }
    long long transaction = 77;
    typed->Send_Message(id, 0, transaction, UTCTime(), rc);
    EXPECT_EQ(rc, NOT_AVAILABLE) << "no sender registered";

    // Second registrations change nothing; the first callback throws and the
    // reception thread must go on.
    FACE::TSS::CV_TSS::Connection_t& record = t.tss->connectionMap_mutex_at(0);
    std::atomic<int> calls{0};
    auto const keep = inbox.callback();
    RC twice[4];
    typed->Register_Sender(id, twice[0]);
    eprosima::fastrtps::Publisher* const publisher = record.m_publisher;
    typed->Register_Sender(id, twice[1]);
    typed->Register_Callback(
        id,
        [&](long long c, long long n, UTCTime const& m, FACE::TSS::HEADER_TYPE const& h, QosList const& q, RC& r) {
            if (calls++ == 0) throw std::runtime_error("callback failure");
            keep(c, n, m, h, q, r);
        },
        twice[2]);
    typed->Register_Callback(id, second.callback(), twice[3]);
    EXPECT_EQ(std::vector<RC>(twice, twice + 4), (std::vector<RC>{NO_ERROR, NO_ACTION, NO_ERROR, NO_ACTION}));
    EXPECT_EQ(record.m_publisher, publisher) << "the first publisher stays";
    ASSERT_TRUE(waitFor([&] { return record.m_publisherListener->matchedCount() == 1; }));
    testing::internal::CaptureStderr();
    for (long long i = 1; i <= 2; ++i) {
        typed->Send_Message(id, 0, transaction, sampleNumber(i), rc);
        EXPECT_EQ(rc, NO_ERROR);
    }
    EXPECT_TRUE(waitFor([&] { return inbox.size() == 1; }));
    EXPECT_NE(testing::internal::GetCapturedStderr().find("callback failure"), std::string::npos);
    EXPECT_EQ(std::make_pair(transaction, second.size()), std::make_pair(77LL, std::size_t(0)))
        << "the transaction id is left alone, the first callback stays in force";
    auto const got = inbox.all().at(0);
    EXPECT_EQ(std::make_tuple(got.connection, got.transaction, got.message), std::make_tuple(id, 2LL, sampleNumber(2)));
    long long const now =
        std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::system_clock::now().time_since_epoch())
            .count();
    EXPECT_NEAR(static_cast<double>(got.header.source_time), static_cast<double>(now), 30e9);

    std::string what = "<returned>";
    try {
        UTCTime m;
        FACE::TSS::HEADER_TYPE h;
        QosList qos;
        typed->Receive_Message(id, 0, transaction, m, h, qos, rc);
    } catch (std::runtime_error const& e) {
        what = e.what();
    }
    EXPECT_EQ(what, "CV_TypedTS::Receive_Message() is not supported.");
}

TEST_F(TypedTransport, EntitiesThatCannotBeCreatedGiveConnectionClosed) {
    // A topic type that no type support registered, and a history depth that
    // no QoS accepts.
    std::string const mismatch = connection("Mismatch", "some::Other", "UTCTimePubSubType");
    for (auto const& [depth, name, why] :
         {std::tuple{"10", "Mismatch", " error creating %s for topic: Mismatch\n"},
          std::tuple{"-5", "UTCTime", " invalid %s QOS for topic: UTCTime; see error log\n"}}) {
        Settings s = Settings::on(kTypedFailuresDomain);
        s.historyDepth = depth;
        Transport t = makeTransport(m_dir.write("c.xml", connectionsFile(s, mismatch)));
        ASSERT_EQ(t.rc, NO_ERROR);
        RC rc = NO_ACTION;
        long long const id = createConnection(*t.tss, name, rc);
        auto typed = typedOver(t.tss);
        for (std::string const entity : {"publisher", "subscriber"}) {
            testing::internal::CaptureStderr();
            if (entity[0] == 'p')
                typed->Register_Sender(id, rc);
            else
                typed->Register_Callback(id, ignoreSample, rc);
            std::string const errors = testing::internal::GetCapturedStderr();
            EXPECT_EQ(rc, CONNECTION_CLOSED) << name << " " << entity;
            std::string expected = why;
            expected.replace(expected.find("%s"), 2, entity);
            EXPECT_NE(errors.find("Participant TssTest" + expected), std::string::npos) << errors;
        }
        FACE::TSS::CV_TSS::Connection_t& record = t.tss->connectionMap_mutex_at(0);
        EXPECT_FALSE(record.isPublisher() || record.isSubscriber());
    }
}

// A text longer than any fixed-size sample: the history must grow for it.
TEST_F(TypedTransport, VariableSizeMessagesTravelIntact) {
    using Command = aspn2_msgs::idl::CommandResponse;
    std::string const extra = connection("Command", "aspn2_msgs::idl::CommandResponse", "CommandResponsePubSubType");
    Inbox<Command> inbox;  // outlives the participant
    Transport t = makeTransport(m_dir.write("c.xml", connectionsFile(Settings::on(kCommandDomain), extra)));
    RC rc[3];
    long long const id = createConnection(*t.tss, "Command", rc[0]);
    auto typed = typedOver<Command>(t.tss);
    typed->Register_Callback(id, inbox.callback(), rc[1]);
    typed->Register_Sender(id, rc[2]);
    Command command;
    command.command_response(std::string(2000, 'r') + " done");
    long long transaction = 0;
    typed->Send_Message(id, 0, transaction, command, rc[0]);
    EXPECT_EQ(std::vector<RC>(rc, rc + 3), std::vector<RC>(3, NO_ERROR));
    ASSERT_TRUE(waitFor([&] { return inbox.size() > 0; }));
    EXPECT_EQ(inbox.all()[0].message, command);
}

}  // namespace

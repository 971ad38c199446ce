#ifndef TOOLS_ASPN2_TOOL_TOOLTRANSPORT_H
#define TOOLS_ASPN2_TOOL_TOOLTRANSPORT_H

// The tool's end of the transport services: one transport over a
// connections file, with a sender or a receiver per named connection.
// Owns everything it creates and takes it down in order: the subscribers
// (each removal waits for its callback in progress), the publishers, the
// typed transports, then the transport. Receive callbacks run on Fast
// DDS's reception threads; whatever they touch must outlive this object.

#include "FACE/CV_Config.h"
#include "FACE/CV_TSS.h"

#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

namespace aspn2_tool {

class ToolTransport {
public:
    /// A sender or receiver on one connection.
    template <typename T>
    struct Endpoint {
        FACE::TSS::Details::CV_TypedTS<T>* typed = nullptr;
        long long id = -1;
        FACE::TSS::CV_TSS::Connection_t* record = nullptr;
    };

    /// Creates the transport named `participantName` over `connectionsFile`.
    /// Throws std::runtime_error naming the file and the return code when
    /// it cannot be initialised.
    ToolTransport(std::string const& connectionsFile, std::string const& participantName);
    ~ToolTransport();
    ToolTransport(ToolTransport const&) = delete;
    ToolTransport& operator=(ToolTransport const&) = delete;

    /// A publisher on `connection`. Throws std::runtime_error naming the
    /// connection when it cannot be made.
    template <typename T>
    Endpoint<T> sender(std::string const& connection) {
        Endpoint<T> e = endpoint<T>(connection);
        FACE::RETURN_CODE_TYPE::Value rc = FACE::RETURN_CODE_TYPE::NO_ACTION;
        e.typed->Register_Sender(e.id, rc);
        check(rc, "cannot publish on connection \"" + connection + "\"");
        return e;
    }

    /// A subscriber on `connection` that calls `onMessage` for every sample.
    /// Throws std::runtime_error naming the connection when it cannot be made.
    template <typename T>
    Endpoint<T> receiver(std::string const& connection, std::function<void(T const&)> onMessage) {
        Endpoint<T> e = endpoint<T>(connection);
        FACE::RETURN_CODE_TYPE::Value rc = FACE::RETURN_CODE_TYPE::NO_ACTION;
        e.typed->Register_Callback(
            e.id,
            [onMessage](long long, long long, T const& m, FACE::TSS::HEADER_TYPE const&,
                        FACE::Sequence<FACE::TSS::QoS_Element> const&,
                        FACE::RETURN_CODE_TYPE::Value&) { onMessage(m); },
            rc);
        check(rc, "cannot subscribe to connection \"" + connection + "\"");
        return e;
    }

    /// Sends `message`; false when the transport refuses it.
    template <typename T>
    static bool send(Endpoint<T> const& e, T const& message) {
        FACE::RETURN_CODE_TYPE::Value rc = FACE::RETURN_CODE_TYPE::NO_ACTION;
        long long transaction = 0;
        e.typed->Send_Message(e.id, -1, transaction, message, rc);
        return rc == FACE::RETURN_CODE_TYPE::NO_ERROR;
    }

    /// Number of remote readers matched by the endpoint's publisher.
    template <typename T>
    static int readersMatched(Endpoint<T> const& e) {
        return e.record != nullptr && e.record->m_publisherListener ? e.record->m_publisherListener->matchedCount() : 0;
    }

    /// Number of remote writers matched by the endpoint's subscriber.
    template <typename T>
    static int writersMatched(Endpoint<T> const& e) {
        return e.record != nullptr && e.record->m_subscriberListener ? e.record->m_subscriberListener->matchedCount()
                                                                     : 0;
    }

private:
    template <typename T>
    Endpoint<T> endpoint(std::string const& connection) {
        FACE::RETURN_CODE_TYPE::Value rc = FACE::RETURN_CODE_TYPE::NO_ACTION;
        long long id = -1;
        int unused = 0;
        m_tss->Create_Connection(FACE::String(connection.c_str()), -1, id, unused, rc);
        check(rc, "cannot create connection \"" + connection + "\"");
        auto typed = std::make_shared<FACE::TSS::Details::CV_TypedTS<T>>();
        typed->Set_Reference("", m_tss, 0, rc);
        check(rc, "cannot attach to connection \"" + connection + "\"");
        m_typed.push_back(typed);
        m_connectionIds.push_back(id);
        Endpoint<T> e;
        e.typed = typed.get();
        e.id = id;
        e.record = &m_tss->connectionMap_mutex_at(FACE::TSS::CV_TSS::connectionKey(id));
        return e;
    }

    /// Throws std::runtime_error(what + " (return code N)") unless rc is 0.
    static void check(FACE::RETURN_CODE_TYPE::Value rc, std::string const& what);

    std::shared_ptr<FACE::TSS::CV_TSS> m_tss;
    std::vector<std::shared_ptr<void>> m_typed;  // typed transports, released before m_tss
    std::vector<long long> m_connectionIds;      // of every endpoint made
};

}  // namespace aspn2_tool

#endif  // TOOLS_ASPN2_TOOL_TOOLTRANSPORT_H

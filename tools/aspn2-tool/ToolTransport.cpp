#include "tools/aspn2-tool/ToolTransport.h"

namespace aspn2_tool {

ToolTransport::ToolTransport(std::string const& connectionsFile, std::string const& participantName)
    : m_tss(std::make_shared<FACE::TSS::CV_TSS>(participantName)) {
    FACE::RETURN_CODE_TYPE::Value rc = FACE::RETURN_CODE_TYPE::NO_ACTION;
    m_tss->Set_Reference("", std::make_shared<FACE::CV_Config>(), 0, rc);
    check(rc, "cannot configure the transport");
    m_tss->Initialize(FACE::String(connectionsFile.c_str()), rc);
    check(rc, "cannot start the transport from " + connectionsFile);
}

ToolTransport::~ToolTransport() {
    // Subscribers go first: removing one waits for its callback in
    // progress, and a callback may send through any of the typed
    // transports, which may only go once no callback can run.
    FACE::RETURN_CODE_TYPE::Value rc = FACE::RETURN_CODE_TYPE::NO_ACTION;
    for (long long id : m_connectionIds) m_tss->Unregister_Callback(id, rc);
    for (long long id : m_connectionIds) m_tss->Unregister_Sender(id, rc);
    m_typed.clear();
    m_tss.reset();
}

void ToolTransport::check(FACE::RETURN_CODE_TYPE::Value rc, std::string const& what) {
    if (rc != FACE::RETURN_CODE_TYPE::NO_ERROR) {
        throw std::runtime_error(what + " (return code " + std::to_string(static_cast<int>(rc)) + ")");
    }
}

}  // namespace aspn2_tool

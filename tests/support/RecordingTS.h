// A typed transport for message type T that keeps what it is asked to send
// instead of sending it, for code under test that takes a CV_TypedTS but
// needs no network. Registration answers `registerResult`; a send answers
// DATA_OVERFLOW when `refuses` says so, else `sendResult`. Header-only.
#ifndef TESTS_SUPPORT_RECORDINGTS_H
#define TESTS_SUPPORT_RECORDINGTS_H

#include "FACE/CV_TSS.h"

#include <atomic>
#include <functional>
#include <mutex>
#include <vector>

namespace corvane_test {

template <typename T>
class RecordingTS : public FACE::TSS::Details::CV_TypedTS<T> {
public:
    using RC = FACE::RETURN_CODE_TYPE::Value;

    void Register_Sender(long long, RC& rc) override { rc = registerResult; }
    void Send_Message(long long, long long, long long&, T const& message, RC& rc) override {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_sent.push_back(message);
        rc = refuses && refuses(message) ? FACE::RETURN_CODE_TYPE::DATA_OVERFLOW : sendResult.load();
    }

    // Everything sent so far, in order (refused sends included).
    std::vector<T> sent() {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_sent;
    }

    RC registerResult = FACE::RETURN_CODE_TYPE::NO_ERROR;
    std::atomic<RC> sendResult{FACE::RETURN_CODE_TYPE::NO_ERROR};
    std::function<bool(T const&)> refuses;  // set before the first send

private:
    std::mutex m_mutex;
    std::vector<T> m_sent;
};

}  // namespace corvane_test

#endif  // TESTS_SUPPORT_RECORDINGTS_H

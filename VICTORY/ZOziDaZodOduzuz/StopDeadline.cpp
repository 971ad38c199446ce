#include "VICTORY/ZOziDaZodOduzuz/StopDeadline.h"

#include <utility>

StopDeadline::StopDeadline(std::chrono::milliseconds bound, Expiry onExpiry) : m_onExpiry(std::move(onExpiry)) {
    const auto deadline = std::chrono::steady_clock::now() + bound;
    m_thread = std::thread([this, deadline] { watch(deadline); });
}

StopDeadline::~StopDeadline() { finished(); }

void StopDeadline::step(const char* name) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_step = name;
}

void StopDeadline::finished() {
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_finished = true;
    }
    m_done.notify_all();
    if (m_thread.joinable()) {
        m_thread.join();
    }
}

void StopDeadline::watch(std::chrono::steady_clock::time_point deadline) {
    const char* step = nullptr;
    {
        std::unique_lock<std::mutex> lock(m_mutex);
        if (m_done.wait_until(lock, deadline, [this] { return m_finished; })) {
            return;
        }
        step = m_step;
    }
    try {
        m_onExpiry(step);
    } catch (...) {
        // The action ends the process in the server; nothing to add here.
    }
}

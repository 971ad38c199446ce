#include "platform/victory/SoapFault.h"

#include <cstdio>
#include <mutex>

namespace victory {

std::string senderFaultText(const std::string& reason, const std::string& detail) {
    std::string text = kSenderFaultMarker;
    text += "\n\"";
    text += reason;
    text += "\"\nDetail: ";
    text += detail;
    text += '\n';
    return text;
}

void writeToStdout(const std::string& text) {
    static std::mutex mutex;
    std::lock_guard<std::mutex> lock(mutex);
    std::fputs(text.c_str(), stdout);
    std::fflush(stdout);
}

}  // namespace victory

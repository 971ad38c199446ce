#pragma once

// The start that HealthReporter and PCSMaintReporter share: the refusals of
// their Init calls, the sender registration through the return-code guard,
// and the settings of the fault filter.

#include "ASPN/FaultHysteresis.h"
#include "FACE/FACE_Common.h"

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <stdexcept>
#include <string>

namespace ASPN2 {

// Checks the Init call `call` ("<function>(<name>)") of a reporter of class
// `owner` and registers `typedTS` as sender on `connectionId`. Throws
// std::runtime_error with
//   "<call> called with an empty eventLogTypedTS."       when typedTS is null
//   "<call> called on an already initialized <owner>."   when `initialized` is set
// and otherwise sets `initialized` and hands the registration's return code
// to the guard (an existing sender, NO_ACTION, passes), which on failure
// prints and throws "<guardFile>[<guardLine>]:<code> <call> unable to
// register sender." with `initialized` left set.
template <typename TypedTS>
void registerReporterSender(const std::string& call, const char* owner, const std::shared_ptr<TypedTS>& typedTS,
                            long long connectionId, std::atomic<bool>& initialized, const char* guardFile,
                            int guardLine) {
    if (!typedTS) {
        throw std::runtime_error(call + " called with an empty eventLogTypedTS.");
    }
    if (initialized.exchange(true)) {
        throw std::runtime_error(call + " called on an already initialized " + owner + ".");
    }
    FACE::RETURN_CODE_TYPE::Value rc = FACE::RETURN_CODE_TYPE::NO_ERROR;
    typedTS->Register_Sender(connectionId, rc);
    const std::string failure = call + " unable to register sender.";
    FACE::Return_Code_Value_No_Error_No_Action(guardFile, guardLine, failure.c_str(), rc);
}

// Sets `filter` to the reporters' 180 s window of at most 2000 entries;
// ends the process (status 255) if the filter refuses.
inline void initReporterFaultFilter(FaultHysteresis& filter) {
    if (!filter.OkInitFaultHysteresis(180, 16, 2000)) {
        std::perror("Unable to configure the Fault Hysteresis\n");
        std::exit(-1);
    }
}

}  // namespace ASPN2

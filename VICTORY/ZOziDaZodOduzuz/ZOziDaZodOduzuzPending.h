#ifndef VICTORY_ZOZIDAZODODUZUZ_ZOZIDAZODODUZUZPENDING_H
#define VICTORY_ZOZIDAZODODUZUZ_ZOZIDAZODODUZUZPENDING_H

// Calls of the health publisher and the maintenance reporter that are not
// available yet: they do nothing for now. This file goes away when they
// land.

#include "ASPN/AspnDeviceIds.h"
#include "FACE/CV_TSS.h"
#include "aspn2_msgs/EventLog.h"
#include "aspn2_msgs/MaintenanceEvent.h"

#include <memory>
#include <string>

namespace pending {

void InitHealthReporter(const std::string& name, const ASPN2::DeviceIdFactory& ids,
                        const std::shared_ptr<FACE::TSS::Details::CV_TypedTS<aspn2_msgs::idl::EventLog>>& ts,
                        long long connectionId);
void DoneHealthReporter();
void InitMaintReporter(const std::string& name, const ASPN2::DeviceIdFactory& ids,
                       const std::shared_ptr<FACE::TSS::Details::CV_TypedTS<aspn2_msgs::idl::MaintenanceEvent>>& ts,
                       long long connectionId);
void sendSoapMaintenanceEvent(const std::string& text);

}  // namespace pending

#endif  // VICTORY_ZOZIDAZODODUZUZ_ZOZIDAZODODUZUZPENDING_H

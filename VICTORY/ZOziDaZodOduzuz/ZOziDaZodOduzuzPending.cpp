#include "VICTORY/ZOziDaZodOduzuz/ZOziDaZodOduzuzPending.h"

namespace pending {

void InitHealthReporter(const std::string&, const ASPN2::DeviceIdFactory&,
                        const std::shared_ptr<FACE::TSS::Details::CV_TypedTS<aspn2_msgs::idl::EventLog>>&, long long)
{
}
void DoneHealthReporter() {}
void InitMaintReporter(const std::string&, const ASPN2::DeviceIdFactory&,
                       const std::shared_ptr<FACE::TSS::Details::CV_TypedTS<aspn2_msgs::idl::MaintenanceEvent>>&,
                       long long)
{
}
void sendSoapMaintenanceEvent(const std::string&) {}

}  // namespace pending

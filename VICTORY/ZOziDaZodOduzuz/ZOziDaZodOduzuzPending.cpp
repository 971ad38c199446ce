// Operations whose behaviour is not built yet: each reports NOT_AVAILABLE or
// does nothing, so that the component links and its finished parts can be
// used. This file goes away as the operations are filled in.

#include "VICTORY/ZOziDaZodOduzuz/ZOziDaZodOduzuz.h"

void ZOziDaZodOduzuz::Configure(FACE::String const& /*configFile*/, FACE::RETURN_CODE_TYPE::Value& rc)
{
    rc = FACE::RETURN_CODE_TYPE::NOT_AVAILABLE;
}

void ZOziDaZodOduzuz::Framework_Connect(FACE::String const& /*configFile*/, FACE::RETURN_CODE_TYPE::Value& rc)
{
    rc = FACE::RETURN_CODE_TYPE::NOT_AVAILABLE;
}

void ZOziDaZodOduzuz::Framework_Disconnect(FACE::RETURN_CODE_TYPE::Value& rc)
{
    rc = FACE::RETURN_CODE_TYPE::NOT_AVAILABLE;
}

void ZOziDaZodOduzuz::Request_State_Transition(RequestedState /*requested*/, FACE::RETURN_CODE_TYPE::Value& rc)
{
    rc = FACE::RETURN_CODE_TYPE::NOT_AVAILABLE;
}

void ZOziDaZodOduzuz::Start() {}

void ZOziDaZodOduzuz::Stop() {}

void ZOziDaZodOduzuz::workerThreadFunction() {}

bool ZOziDaZodOduzuz::ProcessPosOrDirData() { return false; }

void ZOziDaZodOduzuz::cbPVA(const aspn2_msgs::idl::PositionVelocityAttitude& /*msg*/) {}

void ZOziDaZodOduzuz::cbUTCTime(const aspn2_msgs::idl::UTCTime& /*msg*/) {}

void ZOziDaZodOduzuz::cbCmd(const aspn2_msgs::idl::CommandResponse& /*command*/) {}

bool ZOziDaZodOduzuz::updateVDMdataRate(unsigned long /*period*/) { return false; }

int ZOziDaZodOduzuz::logMaintenanceEvent(const char* /*text*/, unsigned /*length*/) { return 0; }

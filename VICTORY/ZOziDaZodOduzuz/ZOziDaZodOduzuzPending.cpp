// Operations whose behaviour is not built yet: each reports NOT_AVAILABLE or
// does nothing, so that the component links and its finished parts can be
// used. This file goes away as the operations are filled in.

#include "VICTORY/ZOziDaZodOduzuz/ZOziDaZodOduzuz.h"

void ZOziDaZodOduzuz::Framework_Connect(FACE::String const& /*configFile*/, FACE::RETURN_CODE_TYPE::Value& rc)
{
    rc = FACE::RETURN_CODE_TYPE::NOT_AVAILABLE;
}

void ZOziDaZodOduzuz::Framework_Disconnect(FACE::RETURN_CODE_TYPE::Value& rc)
{
    rc = FACE::RETURN_CODE_TYPE::NOT_AVAILABLE;
}

int ZOziDaZodOduzuz::logMaintenanceEvent(const char* /*text*/, unsigned /*length*/) { return 0; }

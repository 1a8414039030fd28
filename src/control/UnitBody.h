// The body of a decoded management unit as the class a handler expects.
#pragma once

#include "control/RVZProtoMsg.h"

#include <google/protobuf/message.h>

// Null for a null unit, a unit without a body or a body of another class.
template <class Body>
const Body* UnitBody(const RVZ::RVZProtoMsg* unit)
{
    return unit ? dynamic_cast<const Body*>(unit->body) : nullptr;
}

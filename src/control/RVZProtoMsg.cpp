#include "control/RVZProtoMsg.h"

#include <google/protobuf/message.h>

namespace RVZ {

RVZProtoMsg::~RVZProtoMsg()
{
    delete body;
    body = nullptr;
}

Tarnek::LogRoot* RVZProtoMsg::Clone() const
{
    RVZProtoMsg* copy = new RVZProtoMsg;
    copy->id = id;
    copy->more = more;
    copy->extra = extra;
    copy->type = type;
    copy->textNotUtf8 = textNotUtf8;
    if (body) {
        copy->body = body->New();
        copy->body->CopyFrom(*body);
    }
    return copy;
}

}  // namespace RVZ

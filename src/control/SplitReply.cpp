#include "control/SplitReply.h"

#include <google/protobuf/descriptor.h>
#include <google/protobuf/message.h>

SplitReply::SplitReply(google::protobuf::Message* response, const char* listField, Sink sink)
    : response_(response), list_(response->GetDescriptor()->FindFieldByName(listField)), sink_(std::move(sink))
{
}

void SplitReply::Add(const google::protobuf::Message& item)
{
    if (!list_) return;
    const google::protobuf::Reflection* reflection = response_->GetReflection();
    // A frame always carries at least one item: an empty frame with more = 1
    // would tell the centre nothing.
    if (reflection->FieldSize(*response_, list_) > 0 &&
        item.ByteSizeLong() + response_->ByteSizeLong() >= SPLIT_REPLY_BODY_LIMIT) {
        sink_(*response_, 1);
        ++frames_;
        reflection->ClearField(response_, list_);
    }
    reflection->AddMessage(response_, list_)->CopyFrom(item);
}

void SplitReply::Finish()
{
    sink_(*response_, 0);
    ++frames_;
}

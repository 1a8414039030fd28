#include "control/LooseTextParse.h"

#include "runtime/Utf8Text.h"

#include <google/protobuf/descriptor.h>
#include <google/protobuf/message.h>
#include <google/protobuf/unknown_field_set.h>

#include <climits>
#include <string>

namespace {

using google::protobuf::FieldDescriptor;
using google::protobuf::Message;
using google::protobuf::Reflection;
using google::protobuf::UnknownField;
using google::protobuf::UnknownFieldSet;

// Deeper than any message of the schemas nests.
const int MAX_DEPTH = 16;

bool Fill(const UnknownFieldSet& fields, Message* out, int depth, bool* notUtf8)
{
    if (depth > MAX_DEPTH) return false;
    const Reflection* reflection = out->GetReflection();
    for (int i = 0; i < fields.field_count(); ++i) {
        const UnknownField& field = fields.field(i);
        const FieldDescriptor* fd = out->GetDescriptor()->FindFieldByNumber(field.number());
        if (!fd) continue;  // not of this class: the strict parser drops it too
        bool delimited = field.type() == UnknownField::TYPE_LENGTH_DELIMITED;
        if (delimited && fd->cpp_type() == FieldDescriptor::CPPTYPE_STRING) {
            const std::string& value = field.length_delimited();
            if (fd->type() == FieldDescriptor::TYPE_STRING && !Utf8_IsValid(value.data(), value.size())) {
                *notUtf8 = true;
            }
            if (fd->is_repeated()) {
                reflection->AddString(out, fd, value);
            } else {
                reflection->SetString(out, fd, value);
            }
            continue;
        }
        if (delimited && fd->cpp_type() == FieldDescriptor::CPPTYPE_MESSAGE) {
            UnknownFieldSet nested;
            if (!nested.ParseFromString(field.length_delimited())) return false;
            Message* sub = fd->is_repeated() ? reflection->AddMessage(out, fd) : reflection->MutableMessage(out, fd);
            if (!Fill(nested, sub, depth + 1, notUtf8)) return false;
            continue;
        }
        // Numbers (packed ones too), and values of a wire type the field does
        // not have: the generated parser reads this one field.
        UnknownFieldSet one;
        one.AddField(field);
        std::string wire;
        if (!one.SerializeToString(&wire) || !out->MergeFromString(wire)) return false;
    }
    return true;
}

}  // namespace

bool LooseText_Parse(const unsigned char* data, size_t size, Message* out, bool* notUtf8)
{
    if (!out || !notUtf8 || (!data && size > 0) || size > INT_MAX) return false;
    *notUtf8 = false;
    UnknownFieldSet fields;
    if (!fields.ParseFromArray(data, static_cast<int>(size))) return false;
    return Fill(fields, out, 0, notUtf8);
}

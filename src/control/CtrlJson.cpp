#include "control/CtrlJson.h"

#include <json/reader.h>

#include <memory>

bool CtrlJson_Parse(const std::string& text, Json::Value* root)
{
    Json::CharReaderBuilder builder;
    builder["collectComments"] = true;
    std::unique_ptr<Json::CharReader> reader(builder.newCharReader());
    std::string errors;
    return reader->parse(text.data(), text.data() + text.size(), root, &errors);
}

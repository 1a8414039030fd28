#include "control/CtrlJson.h"

#include <json/reader.h>

#include <exception>
#include <memory>

bool CtrlJson_Parse(const std::string& text, Json::Value* root)
{
    Json::CharReaderBuilder builder;
    builder["collectComments"] = true;
    std::unique_ptr<Json::CharReader> reader(builder.newCharReader());
    std::string errors;
    // The reader throws where it gives up rather than failing (nesting past
    // its stack limit): that is a text that does not parse as well.
    try {
        return reader->parse(text.data(), text.data() + text.size(), root, &errors);
    } catch (const std::exception&) {
        *root = Json::Value();
        return false;
    }
}

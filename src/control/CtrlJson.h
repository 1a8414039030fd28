// Parsing the JSON texts of control-centre requests without exceptions.
#pragma once

#include <json/value.h>

#include <string>

// True when text is one JSON value (comments allowed), stored in *root.
bool CtrlJson_Parse(const std::string& text, Json::Value* root);

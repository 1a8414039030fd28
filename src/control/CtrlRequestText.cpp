#include "control/CtrlRequestText.h"

bool CtrlRequestText_IsWhole(const std::string& text) { return text.find('\0') == std::string::npos; }

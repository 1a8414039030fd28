// The content type of a mail attachment, by its file extension.
#pragma once

#include <string>

// Exact, case-sensitive lookup of the extension (without the dot);
// "application/octet-stream" when no row matches.
std::string GetContentTypeByExt(const std::string& extension);

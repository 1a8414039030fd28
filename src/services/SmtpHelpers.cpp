#include "services/SmtpHelpers.h"

#include <fstream>
#include <sstream>

std::string JoinStrings(const std::vector<std::string>& items, const std::string& separator)
{
    std::string out;
    for (size_t i = 0; i < items.size(); ++i) {
        if (i) out += separator;
        out += items[i];
    }
    return out;
}

std::string GetFileNameFromPath(const std::string& path)
{
    size_t at = path.find_last_of("/\\");
    return at == std::string::npos ? path : path.substr(at + 1);
}

std::string GetFileExtension(const std::string& name)
{
    size_t at = name.rfind('.');
    return at == std::string::npos ? std::string() : name.substr(at + 1);
}

std::string ReadFileToString(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    if (!in) return std::string();
    std::ostringstream bytes;
    bytes << in.rdbuf();
    return bytes.str();
}

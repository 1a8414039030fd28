#include "services/SmtpHelpers.h"

#include <openssl/evp.h>

#include <fstream>
#include <sstream>

std::string Base64Encode(const void* bytes, size_t length)
{
    std::string out;
    if (length == 0) return out;
    // EVP_EncodeBlock writes one unbroken line and a NUL; it takes an int, so
    // feed it whole groups of three bytes.
    static const size_t CHUNK = 3 * 1024 * 1024;
    const unsigned char* in = static_cast<const unsigned char*>(bytes);
    out.reserve(4 * ((length + 2) / 3));
    std::string block(4 * (CHUNK / 3) + 1, '\0');
    for (size_t done = 0; done < length;) {
        size_t n = length - done < CHUNK ? length - done : CHUNK;
        int written = EVP_EncodeBlock(reinterpret_cast<unsigned char*>(&block[0]), in + done, static_cast<int>(n));
        out.append(block.data(), static_cast<size_t>(written));
        done += n;
    }
    return out;
}

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

// A self-signed certificate and key made with the openssl command-line tool,
// for TLS peers in tests. A client trusts it through SSL_CERT_FILE.
#pragma once

#include <cstdlib>
#include <string>

struct TestCertificate {
    std::string certFile;
    std::string keyFile;
};

// Writes <dir>/<stem>.crt and <dir>/<stem>.key for the DNS name host (and
// the address 127.0.0.1 when withLoopbackIp). False when the tool fails.
inline bool TestCertificate_Make(const std::string& dir, const std::string& stem, const std::string& host,
                                 bool withLoopbackIp, TestCertificate* out)
{
    out->certFile = dir + "/" + stem + ".crt";
    out->keyFile = dir + "/" + stem + ".key";
    std::string names = "DNS:" + host + (withLoopbackIp ? ",IP:127.0.0.1" : "");
    std::string command = "openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes -days 2"
                          " -subj '/CN=" + host + "' -addext 'subjectAltName=" + names + "'"
                          " -keyout '" + out->keyFile + "' -out '" + out->certFile + "' >/dev/null 2>&1";
    return system(command.c_str()) == 0;
}

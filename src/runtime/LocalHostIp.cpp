#include "runtime/LocalHostIp.h"

#include <arpa/inet.h>
#include <ifaddrs.h>
#include <net/if.h>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstring>

std::string GetLocalHostIp()
{
    char host[155];
    if (gethostname(host, sizeof(host)) != 0) return "";
    host[sizeof(host) - 1] = '\0';

    struct addrinfo hints;
    memset(&hints, 0, sizeof(hints));
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    struct addrinfo* res = nullptr;
    if (getaddrinfo(host, nullptr, &hints, &res) != 0 || !res) return "";

    std::string ip;
    char text[INET_ADDRSTRLEN];
    const struct sockaddr_in* sin = reinterpret_cast<const struct sockaddr_in*>(res->ai_addr);
    if (inet_ntop(AF_INET, &sin->sin_addr, text, sizeof(text))) ip = text;
    freeaddrinfo(res);
    return ip;
}

std::vector<std::string> GetLocalAddresses()
{
    std::vector<std::string> out;
    struct ifaddrs* list = nullptr;
    if (getifaddrs(&list) != 0) return out;
    for (struct ifaddrs* it = list; it; it = it->ifa_next) {
        if (!it->ifa_addr || it->ifa_addr->sa_family != AF_INET) continue;
        if (!(it->ifa_flags & IFF_UP)) continue;
        char text[INET_ADDRSTRLEN];
        const struct sockaddr_in* sin = reinterpret_cast<const struct sockaddr_in*>(it->ifa_addr);
        if (inet_ntop(AF_INET, &sin->sin_addr, text, sizeof(text))) out.push_back(text);
    }
    freeifaddrs(list);
    return out;
}

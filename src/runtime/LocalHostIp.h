// The host's own addresses, for the start-up log.
#pragma once

#include <string>
#include <vector>

// The first IPv4 address the host's own name resolves to; "" on any failure.
std::string GetLocalHostIp();

// Every IPv4 address of the host's interfaces that is up, loopback included.
std::vector<std::string> GetLocalAddresses();

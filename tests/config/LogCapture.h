// Sends the daily log of a test into a temporary folder so that tests can
// read the lines the code under test wrote.
#pragma once

#include "runtime/Log.h"
#include "support/Files.h"
#include "support/TempDir.h"

#include <cstdio>
#include <string>

class LogCapture {
public:
    LogCapture() { Log_Init((dir_.Path() + "/test").c_str()); }

    std::string Text() const
    {
        PlatformLocalTime now;
        Platform_GetLocalTime(&now);
        char name[64];
        snprintf(name, sizeof(name), "/test_%04d-%02d-%02d.log", now.year, now.month, now.day);
        return ReadFile(dir_.Path() + name);
    }

    bool Has(const std::string& line) const { return Text().find(line) != std::string::npos; }

private:
    TempDir dir_;
};

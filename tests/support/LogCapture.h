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
    LogCapture()
    {
        prefix_ = dir_.File("test");
        Log_Init(prefix_.c_str());
    }

    // Everything logged since the capture began.
    std::string Text() const
    {
        PlatformLocalTime now;
        Platform_GetLocalTime(&now);
        char name[64];
        snprintf(name, sizeof(name), "_%04d-%02d-%02d.log", now.year, now.month, now.day);
        return ReadFile(prefix_ + name);
    }

    bool Has(const std::string& line) const { return Text().find(line) != std::string::npos; }

private:
    TempDir dir_;
    std::string prefix_;
};

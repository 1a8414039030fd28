#include "control/ProtobufLog.h"

#include "runtime/Log.h"

#include <google/protobuf/stubs/logging.h>

#include <cstdio>
#include <string>

namespace {

void ToDailyLog(google::protobuf::LogLevel level, const char* filename, int line, const std::string& message)
{
    // Peers cause the runtime's errors (bad UTF-8 in a body), so they are
    // warnings here; only the runtime's fatal state is an error.
    int ours = level == google::protobuf::LOGLEVEL_INFO    ? LOG_LEVEL_DEBUG
               : level == google::protobuf::LOGLEVEL_FATAL ? LOG_LEVEL_ERR
                                                           : LOG_LEVEL_WARN;
    char text[LOG_MESSAGE_SIZE];
    snprintf(text, sizeof(text), "protobuf %s:%d: %s", filename ? filename : "?", line, message.c_str());
    Log_Write(ours, text);
}

}  // namespace

void ProtobufLog_ToDailyLog()
{
    google::protobuf::SetLogHandler(ToDailyLog);
}

// Sends the protobuf runtime's own messages (a body string that is not
// UTF-8, named by its field) to the daily log instead of standard error:
// the service has no console. Call once at start-up, before any thread
// parses or serializes a message.
#pragma once

void ProtobufLog_ToDailyLog();

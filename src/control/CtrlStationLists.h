// The JSON requests of type 0: reading and changing the station black and
// white lists. Each takes the request's "MsgData" as text and answers text.
#pragma once

#include <string>

// The answer of one JSON request: 1000 the lists, 1001 update, 1002 insert;
// any other MsgId the empty text.
std::string RequestProcess_CommonMsgById(int msgId, const std::string& dataText);

// {"MsgData": {"blacklist": [...], "whitelist": [...]}, "MsgId": 1000},
// styled; an empty list is null.
std::string RequestProcess_Query_BWList();
// Moves every name of "blacklist" to the black list (closing and marking its
// base) and every name of "whitelist" to the white list; update tests
// membership first, insert does not. Both answer the empty text.
std::string RequestProcess_Update_BWList(const std::string& dataText);
std::string RequestProcess_Insert_BWList(const std::string& dataText);

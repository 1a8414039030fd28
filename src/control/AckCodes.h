// The result codes a control-centre reply carries in its ack_status. A code
// means something only together with the request it answers: 30 is a logout
// to a login request and a missing record to a settings read.
#pragma once

enum CtrlAck {
    // Done: the request succeeded. Every notification carries it too.
    ACK_DONE = 20,

    // Login (1) and logout (2).
    ACK_LOGIN_ACCEPTED = ACK_DONE,
    ACK_LOGIN_REFUSED = 21,
    ACK_LOGOUT = 30,

    // Adding a user (11).
    ACK_ADD_STORE_CLOSED = 31,  // the user store is not open
    ACK_ADD_USER_EXISTS = 32,   // a user of that type and name exists
    ACK_ADD_FAILED = 33,

    // Listing users (12, 15).
    ACK_LIST_NOTHING_FOUND = 41,
    ACK_LIST_STORE_CLOSED = 42,
    ACK_LIST_FAILED = 43,

    // Modifying a user (13).
    ACK_MODIFY_NO_SUCH_ID = 51,
    ACK_MODIFY_STORE_CLOSED = 52,
    ACK_MODIFY_FAILED = 53,

    // Deleting users (14).
    ACK_DELETE_STORE_CLOSED = 61,
    ACK_DELETE_FAILED = 62,

    // Reading and writing the service (16, 17) and warning (46, 47) settings.
    ACK_NO_RECORD = 30,     // the caster has no such record
    ACK_WRITE_FAILED = 40,  // "VorlaneConfig.json" was not written; nothing changed

    // The answers to the "PPP-RTK" base's station and client requests.
    ACK_PPPRTK = 1,
};

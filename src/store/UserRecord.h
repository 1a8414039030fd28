// One row of user_tb held in memory, and the singly linked list the user
// store hands out when it lists users.
#pragma once

#include <cstdint>

enum { USER_TEXT_LEN = 200 };  // every text field holds at most 199 characters

// User types stored in user_tb.type.
enum {
    USER_TYPE_OPERATOR = 1,
    USER_TYPE_BASE = 2,
    USER_TYPE_ROVER = 3,
};

struct UserRecord {
    int32_t id;
    int32_t type;
    int32_t role;
    char name[USER_TEXT_LEN];
    char password[USER_TEXT_LEN];
    char contactperson[USER_TEXT_LEN];
    char contacttele[USER_TEXT_LEN];
    char mail[USER_TEXT_LEN];
    char qq[USER_TEXT_LEN];
    char company[USER_TEXT_LEN];
    char registerTime[USER_TEXT_LEN];
    char expiredatetime[USER_TEXT_LEN];
    int32_t activation;        // 1: the account's life counts from its first login
    int32_t activationperiod;  // days of life after the first login
    char firstonlinetime[USER_TEXT_LEN];
    int32_t enabled;
};

// A node of a user list: a copy of the record followed by the next node.
struct UserRecordNode {
    UserRecord record;
    UserRecordNode* next;
};

// A new node holding a copy of `record` (next is null); null when memory runs out.
UserRecordNode* CloneUserRecord(const UserRecord* record);

// Frees every node of the list starting at `head` (null is fine).
void FreeUserList(UserRecordNode* head);

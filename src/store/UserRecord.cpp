#include "store/UserRecord.h"

#include <new>

UserRecordNode* CloneUserRecord(const UserRecord* record)
{
    if (record == nullptr) return nullptr;
    UserRecordNode* node = new (std::nothrow) UserRecordNode;
    if (node == nullptr) return nullptr;
    node->record = *record;
    node->next = nullptr;
    return node;
}

void FreeUserList(UserRecordNode* head)
{
    while (head != nullptr) {
        UserRecordNode* next = head->next;
        delete head;
        head = next;
    }
}

// One queued request: for one terminal, or a group job for many.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

namespace pelmora {

class GroupJob;

// The numbers are fixed; 8, 9 and 13 to 17 mean nothing.
enum class CommandKind : std::int32_t {
    ReadSettings = 0,
    AddAdminNumbers = 1,
    AddAuthorizeNumbers = 2,
    AddBackupNumbers = 3,
    SaveSettings = 4,
    ResetAdminNumbers = 5,
    ResetAuthorizeNumbers = 6,
    ResetBackupNumbers = 7,
    DeleteAdminNumbers = 10,
    DeleteAuthorizeNumbers = 11,
    DeleteBackupNumbers = 12,
    PlayMp3 = 18,
    StopMp3 = 19,
    SendPlayContent = 20,
    SendUpgradeParams = 21,
    ReadVersion = 22,
    RestartDevice = 23,
};

struct CommandJob {
    std::int32_t kind = 0;  // a CommandKind; other values are dropped unrun
    std::uint32_t deviceId = 0;
    std::string text;    // GBK: the command line or payload the page prepared
    bool drill = false;  // queued in drill mode: recorded as a drill
    // Set for a group job, which carries its own kind, text and terminals;
    // the fields above are then not used.
    std::shared_ptr<GroupJob> group;
};

// What the worker posts when a number list changed on the terminal.
struct ListChangeNotice {
    std::string commandText;     // the acknowledged command line; empty for a reset
    int listKind = 0;            // 1 admin, 2 authorize, 3 backup
    std::uint32_t deviceId = 0;  // the terminal whose list changed
};

}  // namespace pelmora

#pragma once

#include <string>

namespace kvel {

// Raises EComPort `errorNumber` for the errno value `code` of a failed device call; a
// permission failure on `devicePath` says what the user can do about it.
[[noreturn]] void RaiseComError(int errorNumber, int code, const std::string& devicePath = {});

// Whether an errno value means the device itself has gone (hung up, unplugged).
bool IsDeviceGone(int code);

}  // namespace kvel

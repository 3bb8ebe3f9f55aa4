#pragma once

#include <string>

namespace kvel {

// Raises EComPort `errorNumber` for the errno value `code` of a failed device call; a
// permission failure on `devicePath` says what the user can do about it.
[[noreturn]] void RaiseComError(int errorNumber, int code, const std::string& devicePath = {});
// As above for a call of an open device, with what the device says about its failure.
class SerialDevice;
[[noreturn]] void RaiseComError(int errorNumber, int code, const SerialDevice& device);

// Whether an errno value means the device itself has gone (hung up, unplugged).
bool IsDeviceGone(int code);

}  // namespace kvel

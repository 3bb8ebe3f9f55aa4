#pragma once

#include <functional>
#include <string>

#include "CPort.h"

// The error number of the EComPort that `call` raises (0 when it raises none), and its
// system error code through `systemError`.
inline int ErrorOf(const std::function<void()>& call, int* systemError = nullptr) {
  try {
    call();
  } catch (const EComPort& e) {
    if (systemError != nullptr) *systemError = e.SystemError();
    return e.ErrorNumber();
  }
  return 0;
}

// The text of the EComPort that `call` raises (empty when it raises none).
inline std::string ErrorTextOf(const std::function<void()>& call) {
  try {
    call();
  } catch (const EComPort& e) {
    return e.what();
  }
  return {};
}

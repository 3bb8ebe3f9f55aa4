#include "WindowSupport.h"

#include "KVEL_Var.h"
#include "ui/Shutdown.h"

void EndingWatch::Begin() {
  runFlagSet_ = RunFlag != 0;
}

bool EndingWatch::Ending() const {
  return kvel::ShutdownRequested() || (runFlagSet_ && RunFlag == 0);
}

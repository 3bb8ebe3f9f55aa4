#include <gtest/gtest.h>

#include <memory>

#include "ErrorDisplay.h"

namespace {

// One application object, with the default error display, for all widget tests of the
// test program that links this.
class GuiEnvironment : public testing::Environment {
 public:
  void SetUp() override { app_ = std::make_unique<kvel::Application>(argc_, argv_); }
  void TearDown() override { app_.reset(); }

 private:
  char name_[16] = "kvel_tests";
  char* argv_[2] = {name_, nullptr};
  int argc_ = 1;
  std::unique_ptr<kvel::Application> app_;
};

[[maybe_unused]] testing::Environment* const environment =
    testing::AddGlobalTestEnvironment(new GuiEnvironment);

}  // namespace

#include <gtest/gtest.h>

#include <QFile>
#include <QTemporaryDir>
#include <cstdlib>
#include <stdexcept>
#include <string>

#include "Registry.h"

namespace kvel {
namespace {

class RegistryTest : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(dir_.isValid());
    const char* old = std::getenv("XDG_CONFIG_HOME");
    if (old != nullptr) saved_ = old;
    hadOld_ = old != nullptr;
    setenv("XDG_CONFIG_HOME", dir_.path().toLocal8Bit().constData(), 1);
  }
  void TearDown() override {
    if (hadOld_) {
      setenv("XDG_CONFIG_HOME", saved_.c_str(), 1);
    } else {
      unsetenv("XDG_CONFIG_HOME");
    }
  }
  QTemporaryDir dir_;
  std::string saved_;
  bool hadOld_ = false;
};

TEST_F(RegistryTest, ValuesLiveInTheUsersConfigurationFolder) {
  EXPECT_EQ(UserConfigFolder(), dir_.path().toStdString() + "/kvel");
  RegistryKey key("Software\\KVEL\\Port");
  EXPECT_FALSE(key.ValueExists("BaudRate"));
  EXPECT_EQ(key.ReadString("BaudRate"), "");
  EXPECT_THROW(key.ReadInteger("BaudRate"), std::runtime_error);
  key.WriteInteger("BaudRate", -19200);
  const std::string bytes("\xE4\x01 lead and trail ", 17);
  key.WriteString("Name", bytes);
  EXPECT_TRUE(QFile::exists(dir_.path() + QStringLiteral("/kvel/registry.ini")));

  RegistryKey again("Software\\KVEL\\Port");
  EXPECT_TRUE(again.ValueExists("BaudRate"));
  EXPECT_EQ(again.ReadInteger("BaudRate"), -19200);
  EXPECT_EQ(again.ReadString("Name"), bytes);
  EXPECT_THROW(again.ReadInteger("Name"), std::runtime_error);
  // Another key path is another group.
  EXPECT_FALSE(RegistryKey("Software\\KVEL\\Other").ValueExists("BaudRate"));
}

}  // namespace
}  // namespace kvel

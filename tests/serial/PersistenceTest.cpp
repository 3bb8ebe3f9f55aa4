// Port settings to and from an INI section and a registry key.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <string>

#include "CPort.h"
#include "ui/IniFile.h"
#include "ui/Registry.h"

namespace {

TEST(StoredTexts, BooleansAndCharacters) {
  EXPECT_TRUE(TextToBool("yes"));
  EXPECT_TRUE(TextToBool("YeS"));
  EXPECT_FALSE(TextToBool("Y"));
  EXPECT_FALSE(TextToBool("No"));
  EXPECT_FALSE(TextToBool(""));
  EXPECT_EQ(YesNoText(true), "Yes");
  EXPECT_EQ(YesNoText(false), "No");
  const struct {
    std::uint8_t code;
    const char* text;
  } chars[] = {{'A', "A"},  {127, "\x7F"}, {128, "#128"}, {0, "#0"},
               {17, "#17"}, {' ', "#32"},  {200, "#200"}, {'!', "!"}};
  for (auto row : chars) {
    EXPECT_EQ(CharText(row.code), row.text) << int{row.code};
    EXPECT_EQ(TextToChar(row.text), row.code) << row.text;
  }
  const struct {
    const char* text;
    std::uint8_t code;
  } parsed[] = {{"#19", 19},  {"AB", 'A'},  {"#x", 0},    {"#", '#'}, {"", 0},
                {"#300", 44}, {"#-1", 255}, {"#$1F", 31}, {"#19 ", 0}};
  for (auto row : parsed) EXPECT_EQ(TextToChar(row.text), row.code) << row.text;
}

class PersistenceTest : public testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/kvel-store-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    dir_ = pattern;
    setenv("XDG_CONFIG_HOME", dir_.c_str(), 1);
    source_.SetName("ComPort1");
    target_.SetName("ComPort1");
  }
  void TearDown() override {
    unsetenv("XDG_CONFIG_HOME");
    std::filesystem::remove_all(dir_);
  }
  std::string Ini() const {
    std::ifstream in(dir_ + "/KVEL_32.INI");
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
  }
  // Every setting away from its default.
  void Unusual(TCustomComPort& port) {
    port.SetPort("COM12");
    port.SetBaudRate(brCustom);
    port.SetCustomBaudRate(31250);
    port.SetStopBits(sbTwoStopBits);
    port.SetDataBits(dbSeven);
    port.Parity().SetBits(prMark);
    port.SetEventChar('\r');
    port.SetDiscardNull(true);
    port.Parity().SetCheck(true);
    port.Parity().SetReplace(true);
    port.Parity().SetReplaceChar('?');
    port.Buffer().SetOutputSize(512);
    port.Buffer().SetInputSize(8192);
    port.Timeouts().SetReadInterval(5);
    port.Timeouts().SetReadTotalConstant(6);
    port.Timeouts().SetReadTotalMultiplier(7);
    port.Timeouts().SetWriteTotalConstant(8);
    port.Timeouts().SetWriteTotalMultiplier(9);
    TComFlowControl& f = port.FlowControl();
    f.SetControlRTS(rtsToggle);
    f.SetControlDTR(dtrHandshake);
    f.SetDSRSensitivity(true);
    f.SetOutCTSFlow(true);
    f.SetOutDSRFlow(true);
    f.SetTxContinueOnXoff(true);
    f.SetXonXoffIn(true);
    f.SetXonXoffOut(false);
    f.SetXoffChar(0x93);
    f.SetXonChar(' ');
  }
  static std::string Settings(const TCustomComPort& p) {
    const TComFlowControl& f = p.FlowControl();
    const TComTimeouts& t = p.Timeouts();
    std::ostringstream out;
    out << p.Port() << ' ' << p.BaudRate() << ' ' << p.CustomBaudRate() << ' ' << p.StopBits()
        << ' ' << p.DataBits() << ' ' << p.Parity().Bits() << ' ' << int{p.EventChar()} << ' '
        << p.DiscardNull() << ' ' << p.Parity().Check() << p.Parity().Replace() << ' '
        << int{p.Parity().ReplaceChar()} << ' ' << p.Buffer().OutputSize() << ' '
        << p.Buffer().InputSize() << ' ' << t.ReadInterval() << t.ReadTotalConstant()
        << t.ReadTotalMultiplier() << t.WriteTotalConstant() << t.WriteTotalMultiplier() << ' '
        << f.ControlRTS() << f.ControlDTR() << f.DSRSensitivity() << f.OutCTSFlow()
        << f.OutDSRFlow() << f.TxContinueOnXoff() << f.XonXoffIn() << f.XonXoffOut() << ' '
        << int{f.XoffChar()} << ' ' << int{f.XonChar()};
    return out.str();
  }
  static constexpr TStoredProps kAllGroups{sgBasic,    sgFlowControl, sgBuffer,
                                           sgTimeouts, sgParity,      sgOthers};

  std::string dir_;
  TComPort source_;
  TComPort target_;
};

TEST_F(PersistenceTest, TheBasicGroupWritesItsSixKeys) {
  kvel::IniFile ini(dir_ + "/KVEL_32.INI");
  source_.StoreToIniFile(ini);
  EXPECT_EQ(Ini(),
            "[ComPort1]\r\nPort=COM1\r\nBaudRate=9600\r\nStopBits=1\r\nDataBits=8\r\n"
            "Parity=None\r\nFlowControl=None\r\n");
  source_.SetBaudRate(brCustom);
  source_.StoreToIniFile(ini);
  EXPECT_NE(Ini().find("\nBaudRate=Custom\r\n"), std::string::npos);
  EXPECT_NE(Ini().find("\nCustomBaudRate=9600\r\n"), std::string::npos);
}

TEST_F(PersistenceTest, AllGroupsRoundTripThroughAnIniFile) {
  Unusual(source_);
  source_.SetStoredGroups(kAllGroups);
  target_.SetStoredGroups(kAllGroups);
  kvel::IniFile ini(dir_ + "/KVEL_32.INI");
  source_.StoreToIniFile(ini);
  ASSERT_NE(Settings(source_), Settings(target_));
  target_.LoadFromIniFile(ini);
  EXPECT_EQ(Settings(target_), Settings(source_));
  EXPECT_NE(Ini().find("FlowControl.XoffChar=#147\r\nFlowControl.XonChar=#32\r\n"),
            std::string::npos);
}

TEST_F(PersistenceTest, AllGroupsRoundTripThroughTheRegistry) {
  Unusual(source_);
  source_.SetStoredGroups(kAllGroups);
  target_.SetStoredGroups(kAllGroups);
  kvel::RegistryKey key("Software\\KVEL\\Port");
  source_.StoreToRegistry(key);
  target_.LoadFromRegistry(key);
  EXPECT_EQ(Settings(target_), Settings(source_));
}

TEST_F(PersistenceTest, MissingIniKeysKeepTheCurrentValues) {
  kvel::IniFile ini(dir_ + "/KVEL_32.INI");
  ini.WriteString("ComPort1", "FlowControl.OutCTSFlow", "Yes");
  target_.SetStoredGroups({sgFlowControl});
  target_.FlowControl().SetOutDSRFlow(true);
  target_.LoadFromIniFile(ini);
  EXPECT_TRUE(target_.FlowControl().OutDSRFlow());
  EXPECT_TRUE(target_.FlowControl().OutCTSFlow());
  // The preset of the basic group comes first; the flow-control keys refine it.
  ini.WriteString("ComPort1", "FlowControl", "Hardware");
  ini.WriteString("ComPort1", "FlowControl.ControlRTS", "Enable");
  target_.SetStoredGroups({sgBasic, sgFlowControl});
  target_.LoadFromIniFile(ini);
  EXPECT_EQ(target_.FlowControl().ControlRTS(), rtsEnable);
  EXPECT_TRUE(target_.FlowControl().OutCTSFlow());
  EXPECT_EQ(target_.FlowControl().FlowControl(), fcCustom);
}

TEST_F(PersistenceTest, ANonNumericIntegerTakesItsDefaultAndTheRestIsLoaded) {
  kvel::IniFile ini(dir_ + "/KVEL_32.INI");
  ini.WriteString("ComPort1", "BaudRate", "Custom");
  ini.WriteString("ComPort1", "CustomBaudRate", "fast");
  ini.WriteString("ComPort1", "Buffer.OutputSize", "2k");
  ini.WriteString("ComPort1", "Buffer.InputSize", "4096");
  ini.WriteString("ComPort1", "Timeouts.ReadInterval", "");
  ini.WriteString("ComPort1", "Timeouts.WriteTotalMultiplier", "$10");
  ini.WriteString("ComPort1", "FlowControl.OutDSRFlow", "Yes");
  target_.SetStoredGroups({sgBasic, sgBuffer, sgTimeouts, sgFlowControl});
  target_.SetCustomBaudRate(31250);
  target_.Buffer().SetOutputSize(512);
  target_.Timeouts().SetReadInterval(7);
  target_.LoadFromIniFile(ini);
  EXPECT_EQ(target_.BaudRate(), brCustom);
  EXPECT_EQ(target_.CustomBaudRate(), 9600);  // the default of that key
  EXPECT_EQ(target_.Buffer().OutputSize(), 512);
  EXPECT_EQ(target_.Buffer().InputSize(), 4096);
  EXPECT_EQ(target_.Timeouts().ReadInterval(), 7);
  EXPECT_EQ(target_.Timeouts().WriteTotalMultiplier(), 16);
  EXPECT_TRUE(target_.FlowControl().OutDSRFlow());  // the last group, after them all
}

TEST_F(PersistenceTest, APortWithoutANameHasNoSectionToStoreIn) {
  kvel::IniFile ini(dir_ + "/KVEL_32.INI");
  TComPort unnamed;
  try {
    unnamed.StoreToIniFile(ini);
    ADD_FAILURE() << "stored without a section";
  } catch (const EComPort& e) {
    EXPECT_EQ(e.ErrorNumber(), 16);
    EXPECT_EQ(std::string(e.what()),
              "Failed to store settings - the port has no name, the INI section of its settings");
  }
  EXPECT_EQ(Ini(), "");
  try {
    unnamed.LoadFromIniFile(ini);
    ADD_FAILURE() << "loaded without a section";
  } catch (const EComPort& e) {
    EXPECT_EQ(e.ErrorNumber(), 17);
  }
}

TEST_F(PersistenceTest, TheRegistryHasNoDefaults) {
  kvel::RegistryKey key("Software\\KVEL\\Sparse");
  key.WriteString("BaudRate", "19200");
  target_.SetStoredGroups({sgBasic, sgBuffer});
  target_.SetDataBits(dbSeven);
  EXPECT_THROW(target_.LoadFromRegistry(key), std::runtime_error);  // Buffer.OutputSize
  EXPECT_EQ(target_.Port(), "");
  EXPECT_EQ(target_.BaudRate(), br19200);
  EXPECT_EQ(target_.DataBits(), dbEight);                  // empty text: the fallback
  EXPECT_EQ(target_.FlowControl().FlowControl(), fcNone);  // fcCustom changes nothing
}

}  // namespace

#include <gtest/gtest.h>
#include <termios.h>

#include <cerrno>

#include "TermiosSettings.h"

using kvel::Dcb;
using kvel::LineLevel;
using kvel::LineSettingsPlan;

namespace {

LineSettingsPlan Plan(const Dcb& dcb) {
  LineSettingsPlan plan;
  EXPECT_EQ(kvel::PlanLineSettings(dcb, &plan), 0);
  return plan;
}

struct FrameRow {
  std::uint8_t byteSize, parity, stopBits;
  tcflag_t cflagSet;    // must be set
  tcflag_t cflagClear;  // must be clear
};

class FrameMapping : public testing::TestWithParam<FrameRow> {};

TEST_P(FrameMapping, CharacterFrame) {
  const FrameRow& row = GetParam();
  Dcb dcb;
  dcb.byteSize = row.byteSize;
  dcb.parity = row.parity;
  dcb.stopBits = row.stopBits;
  const LineSettingsPlan plan = Plan(dcb);
  EXPECT_EQ(plan.termios.cflag & row.cflagSet, row.cflagSet);
  EXPECT_EQ(plan.termios.cflag & row.cflagClear, 0u);
  EXPECT_EQ(plan.termios.cflag & (CREAD | CLOCAL), static_cast<tcflag_t>(CREAD | CLOCAL));
}

INSTANTIATE_TEST_SUITE_P(Rows, FrameMapping,
                         testing::Values(FrameRow{8, 0, 0, CS8, PARENB | CSTOPB | CMSPAR},
                                         FrameRow{7, 2, 0, CS7 | PARENB, PARODD | CMSPAR | CSTOPB},
                                         FrameRow{7, 1, 2, CS7 | PARENB | PARODD | CSTOPB, CMSPAR},
                                         FrameRow{8, 3, 0, CS8 | PARENB | CMSPAR | PARODD, CSTOPB},
                                         FrameRow{8, 4, 0, CS8 | PARENB | CMSPAR, PARODD},
                                         FrameRow{5, 0, 1, CS5 | CSTOPB,
                                                  PARENB},  // 1.5 stop bits: the two-bit flag
                                         FrameRow{6, 0, 0, CS6, CS8 & ~CS6}));

TEST(LineSettingsPlan, RefusesWhatNoLineCanCarry) {
  LineSettingsPlan plan;
  Dcb dcb;
  dcb.baudRate = 0;
  EXPECT_EQ(kvel::PlanLineSettings(dcb, &plan), EINVAL);
  dcb = Dcb{};
  dcb.byteSize = 9;
  EXPECT_EQ(kvel::PlanLineSettings(dcb, &plan), EINVAL);
  dcb = Dcb{};
  dcb.parity = 5;
  EXPECT_EQ(kvel::PlanLineSettings(dcb, &plan), EINVAL);
  dcb = Dcb{};
  dcb.stopBits = 3;
  EXPECT_EQ(kvel::PlanLineSettings(dcb, &plan), EINVAL);
}

TEST(LineSettingsPlan, RawInputWithMarkedErrorsAndAnyRate) {
  Dcb dcb;
  dcb.baudRate = 31250;
  const LineSettingsPlan plan = Plan(dcb);
  EXPECT_EQ(plan.termios.speed, 31250u);
  EXPECT_EQ(plan.termios.lflag, 0u);  // no echo, no line editing, no signals
  EXPECT_EQ(plan.termios.oflag, 0u);
  EXPECT_EQ(plan.termios.iflag, static_cast<tcflag_t>(PARMRK));
  EXPECT_EQ(plan.termios.cc[VMIN], 1);
  EXPECT_EQ(plan.termios.cc[VTIME], 0);
}

struct FlowRow {
  std::uint32_t flags;
  bool crtscts;
  LineLevel dtr, rts;
  bool toggle, dsrGate;
};

class FlowMapping : public testing::TestWithParam<FlowRow> {};

TEST_P(FlowMapping, HandshakeLines) {
  const FlowRow& row = GetParam();
  Dcb dcb;
  dcb.flags = kvel::kDcbBinary | row.flags;
  const LineSettingsPlan plan = Plan(dcb);
  EXPECT_EQ((plan.termios.cflag & CRTSCTS) != 0, row.crtscts);
  EXPECT_EQ(plan.dtr, row.dtr);
  EXPECT_EQ(plan.rts, row.rts);
  EXPECT_EQ(plan.rtsToggle, row.toggle);
  EXPECT_EQ(plan.dsrGatesOutput, row.dsrGate);
}

INSTANTIATE_TEST_SUITE_P(
    Rows, FlowMapping,
    testing::Values(FlowRow{0, false, LineLevel::kOff, LineLevel::kOff, false, false},
                    FlowRow{0x0010 | 0x1000, false, LineLevel::kOn, LineLevel::kOn, false, false},
                    FlowRow{kvel::kDcbOutxCtsFlow | 0x2000, true, LineLevel::kOff, LineLevel::kOn,
                            false, false},
                    FlowRow{0x0020, false, LineLevel::kOn, LineLevel::kOff, false, false},
                    FlowRow{0x3000, false, LineLevel::kOff, LineLevel::kOff, true, false},
                    FlowRow{kvel::kDcbOutxDsrFlow, false, LineLevel::kOff, LineLevel::kOff, false,
                            true}));

TEST(LineSettingsPlan, SoftwareFlowWithOwnCharacters) {
  Dcb dcb;
  dcb.flags = kvel::kDcbBinary | kvel::kDcbOutX | kvel::kDcbInX;
  dcb.xonChar = 0x05;
  dcb.xoffChar = 0x06;
  const LineSettingsPlan plan = Plan(dcb);
  EXPECT_NE(plan.termios.iflag & IXON, 0u);
  EXPECT_NE(plan.termios.iflag & IXOFF, 0u);
  EXPECT_EQ(plan.termios.iflag & IXANY, 0u);
  EXPECT_EQ(plan.termios.cc[VSTART], 0x05);
  EXPECT_EQ(plan.termios.cc[VSTOP], 0x06);
}

TEST(LineSettingsPlan, ParityCheckingAndReplacement) {
  Dcb dcb;
  dcb.flags = kvel::kDcbBinary | kvel::kDcbErrorChar;  // replacement without checking
  dcb.errorChar = '?';
  LineSettingsPlan plan = Plan(dcb);
  EXPECT_EQ(plan.termios.iflag & INPCK, 0u);
  EXPECT_FALSE(plan.replaceErrors);

  dcb.flags |= kvel::kDcbParity | kvel::kDcbNull;
  dcb.evtChar = '\r';
  plan = Plan(dcb);
  EXPECT_NE(plan.termios.iflag & INPCK, 0u);
  EXPECT_TRUE(plan.replaceErrors);
  EXPECT_EQ(plan.errorChar, '?');
  EXPECT_TRUE(plan.discardNull);
  EXPECT_EQ(plan.eventChar, '\r');
}

}  // namespace

#pragma once

#include <cstdint>
#include <string>

#include "Controller.h"

namespace kvel::sim {

enum class DriveType { ZorvDrive, GRV };

// What a drive reads on its inputs and holds when it is switched on.
struct DriveSetup {
  DriveType type = DriveType::ZorvDrive;
  std::uint32_t inputs = 0;   // bit 0 = input 1
  std::uint32_t outputs = 0;  // bit 0 = output 1
  long long bcd = 0;          // BCD switch value
  double encoder = 0.0;       // encoder position
  double analog = 0.0;        // analog input, volts
  int error = 0;              // the drive error number that ERR returns
  // Replies as a drive may word them, instead of the ones built from the values above.
  std::string bcdReply;     // BCD
  std::string analogReply;  // AN (e.g. "-2.5" instead of "-2.50000")
  std::string errorReply;   // ERR (e.g. a text instead of a number)
  int silentAfter = -1;     // answers nothing from the request after the n-th on
};

// A ZorvDrive servo drive or a GRV control: IN(n), OUT(n)=, out(n), BCD, EP, AN, ERR,
// ledtest and the analog-output commands SERVOOUT=, TORQUE=, WNDGS=.
class Drive : public Controller {
 public:
  explicit Drive(DriveSetup setup);

  Reply Execute(const std::string& command, Micros atUs) override;

  static const char* TypeName(DriveType type);
  int InputCount() const { return setup_.type == DriveType::GRV ? 19 : 17; }
  int OutputCount() const { return setup_.type == DriveType::GRV ? 6 : 8; }

  DriveSetup& Setup() { return setup_; }
  const DriveSetup& Setup() const { return setup_; }
  bool Output(int n) const { return ((setup_.outputs >> (n - 1)) & 1u) != 0; }
  int ServoOut() const { return servoOut_; }
  int Torque() const { return torque_; }
  int Windings() const { return windings_; }
  int LedTests() const { return ledTests_; }

 private:
  DriveSetup setup_;
  int servoOut_ = 0;
  int torque_ = 0;
  int windings_ = 0;
  int ledTests_ = 0;
  int requests_ = 0;
};

}  // namespace kvel::sim

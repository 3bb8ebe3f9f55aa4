#pragma once

#include <functional>
#include <memory>
#include <string>

class QLocalServer;

namespace kvel {

// Guards against a second running instance with a local socket named per user.
// The first instance listens; a later start connects, asks the first one to come to
// the front, learns whether it was minimised, and ends.
class SingleInstance {
 public:
  enum class Outcome { First, OtherRestored, OtherRaised };

  explicit SingleInstance(std::string key);
  ~SingleInstance();

  // Tries to become the running instance. When another runs, asks it to raise itself
  // and returns whether it was minimised (restored) or only brought to the front.
  Outcome Acquire();
  // Called in the first instance when a later start asks it to come forward; returns
  // true when the window was minimised and has been restored.
  void SetRaiseHandler(std::function<bool()> handler);

 private:
  std::string key_;
  std::unique_ptr<QLocalServer> server_;
  std::function<bool()> raise_;
};

}  // namespace kvel

// A start of the program reduced to the single-instance check, for the tests:
//   single_instance_probe KEY once                   try, print the outcome, end
//   single_instance_probe KEY serve restored|raised  as first instance answer one request
//   single_instance_probe KEY stuck MS               as first instance block MS, then serve
#include <QCoreApplication>
#include <QThread>
#include <QTimer>
#include <cstdio>
#include <cstring>
#include <string>

#include "SingleInstance.h"

namespace {

const char* Name(kvel::SingleInstance::Outcome outcome) {
  switch (outcome) {
    case kvel::SingleInstance::Outcome::First:
      return "First";
    case kvel::SingleInstance::Outcome::OtherRestored:
      return "OtherRestored";
    case kvel::SingleInstance::Outcome::OtherRaised:
      return "OtherRaised";
  }
  return "?";
}

void Say(const char* text) {
  std::printf("%s\n", text);
  std::fflush(stdout);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) return 2;
  QCoreApplication app(argc, argv);
  const std::string mode = argv[2];
  kvel::SingleInstance instance(argv[1]);
  const bool restored = argc > 3 && std::strcmp(argv[3], "restored") == 0;
  instance.SetRaiseHandler([restored] {
    Say("asked");
    QTimer::singleShot(200, qApp, &QCoreApplication::quit);
    return restored;
  });
  const auto outcome = instance.Acquire();
  Say(Name(outcome));
  if (outcome != kvel::SingleInstance::Outcome::First || mode == "once") return 0;
  if (mode == "stuck") QThread::msleep(argc > 3 ? std::stoul(argv[3]) : 5000);
  QTimer::singleShot(mode == "stuck" ? 1000 : 20000, qApp, &QCoreApplication::quit);
  return QCoreApplication::exec();
}

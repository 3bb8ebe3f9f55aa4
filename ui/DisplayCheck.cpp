#include "DisplayCheck.h"

#include <cstdlib>
#include <string_view>

#ifdef KVEL_HAVE_XCB
#include <xcb/xcb.h>
#endif

namespace kvel {
namespace {

std::string_view Env(const char* name) {
  const char* value = std::getenv(name);
  return value != nullptr ? std::string_view(value) : std::string_view();
}

}  // namespace

std::string MissingDisplay(int argc, char** argv) {
  for (int i = 1; i < argc; ++i) {
    const std::string_view argument = argv[i];
    if (argument == "-platform" || argument == "--platform") return {};
  }
  const std::string_view platform = Env("QT_QPA_PLATFORM");
  if (!platform.empty() && platform.substr(0, 3) != "xcb") return {};
  if (platform.empty() && !Env("WAYLAND_DISPLAY").empty()) return {};
  const std::string_view display = Env("DISPLAY");
  if (display.empty()) return "no display: DISPLAY is not set (and no Wayland session)";
#ifdef KVEL_HAVE_XCB
  xcb_connection_t* connection = xcb_connect(std::string(display).c_str(), nullptr);
  const bool failed = xcb_connection_has_error(connection) != 0;
  xcb_disconnect(connection);
  if (failed) return "no display: cannot connect to DISPLAY=" + std::string(display);
#endif
  return {};
}

}  // namespace kvel

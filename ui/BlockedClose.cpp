#include "BlockedClose.h"

#include <QAbstractNativeEventFilter>
#include <QApplication>
#include <QByteArray>
#include <QPointer>
#include <QTimer>
#include <QWidget>

#ifdef KVEL_HAVE_XCB
#include <xcb/xcb.h>

#include <cstdlib>
#include <cstring>
#endif

namespace kvel {
namespace {

#ifdef KVEL_HAVE_XCB

xcb_atom_t InternAtom(xcb_connection_t* connection, const char* name) {
  const xcb_intern_atom_cookie_t cookie =
      xcb_intern_atom(connection, 0, static_cast<std::uint16_t>(std::strlen(name)), name);
  xcb_intern_atom_reply_t* reply = xcb_intern_atom_reply(connection, cookie, nullptr);
  if (reply == nullptr) return XCB_ATOM_NONE;
  const xcb_atom_t atom = reply->atom;
  std::free(reply);
  return atom;
}

class CloseRequestFilter final : public QAbstractNativeEventFilter {
 public:
  CloseRequestFilter(QWidget& window, xcb_atom_t protocols, xcb_atom_t deleteWindow)
      : window_(&window), protocols_(protocols), deleteWindow_(deleteWindow) {}

  bool nativeEventFilter(const QByteArray& eventType, void* message, qintptr*) override {
    if (window_.isNull() || eventType != "xcb_generic_event_t") return false;
    const auto* event = static_cast<const xcb_generic_event_t*>(message);
    if ((event->response_type & 0x7f) != XCB_CLIENT_MESSAGE) return false;
    const auto* client = static_cast<const xcb_client_message_event_t*>(message);
    if (client->format != 32 || client->type != protocols_ ||
        client->data.data32[0] != deleteWindow_ ||
        client->window != static_cast<xcb_window_t>(window_->winId())) {
      return false;
    }
    QWidget* modal = QApplication::activeModalWidget();
    if (modal == nullptr || modal == window_.data()) return false;
    // Not from inside the native event dispatch: the close may run a whole shutdown.
    QTimer::singleShot(0, window_.data(), [window = window_] {
      if (!window.isNull()) window->close();
    });
    return true;
  }

 private:
  QPointer<QWidget> window_;
  xcb_atom_t protocols_;
  xcb_atom_t deleteWindow_;
};

#endif

}  // namespace

void WatchCloseWhileBlocked(QWidget& window) {
#ifdef KVEL_HAVE_XCB
  auto* x11 =
      qApp != nullptr ? qApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
  if (x11 == nullptr || x11->connection() == nullptr) return;
  xcb_connection_t* connection = x11->connection();
  const xcb_atom_t protocols = InternAtom(connection, "WM_PROTOCOLS");
  const xcb_atom_t deleteWindow = InternAtom(connection, "WM_DELETE_WINDOW");
  if (protocols == XCB_ATOM_NONE || deleteWindow == XCB_ATOM_NONE) return;
  // Owned by the window: removed from the application when the window goes.
  auto* filter = new CloseRequestFilter(window, protocols, deleteWindow);
  qApp->installNativeEventFilter(filter);
  QObject::connect(&window, &QObject::destroyed, qApp, [filter] {
    if (qApp != nullptr) qApp->removeNativeEventFilter(filter);
    delete filter;
  });
#else
  (void)window;
#endif
}

}  // namespace kvel

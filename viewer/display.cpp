#include "viewer/display.hpp"

#include <dlfcn.h>

#include <cstdlib>

namespace stview {
namespace {

struct XcbConnection;
using XcbConnect = XcbConnection* (*)(const char*, int*);
using XcbHasError = int (*)(XcbConnection*);
using XcbDisconnect = void (*)(XcbConnection*);

// Loads libxcb for the duration of one probe.
class XcbLibrary {
  public:
    XcbLibrary() : handle_(dlopen("libxcb.so.1", RTLD_LAZY | RTLD_LOCAL)) {}
    ~XcbLibrary() {
        if (handle_ != nullptr) dlclose(handle_);
    }
    XcbLibrary(const XcbLibrary&) = delete;
    XcbLibrary& operator=(const XcbLibrary&) = delete;

    template <class Function>
    Function symbol(const char* name) const {
        return handle_ == nullptr ? nullptr : reinterpret_cast<Function>(dlsym(handle_, name));
    }

  private:
    void* handle_;
};

}  // namespace

bool displayReachable() {
    const char* platform = std::getenv("QT_QPA_PLATFORM");
    if (platform != nullptr && platform[0] != '\0') return true;
    const char* display = std::getenv("DISPLAY");
    if (display == nullptr || display[0] == '\0') return false;

    const XcbLibrary xcb;
    const auto connect = xcb.symbol<XcbConnect>("xcb_connect");
    const auto hasError = xcb.symbol<XcbHasError>("xcb_connection_has_error");
    const auto disconnect = xcb.symbol<XcbDisconnect>("xcb_disconnect");
    if (connect == nullptr || hasError == nullptr || disconnect == nullptr) return false;
    XcbConnection* connection = connect(display, nullptr);
    // xcb_connect never returns null: failures come back as an error object,
    // which must be disconnected like a live connection.
    const bool reachable = connection != nullptr && hasError(connection) == 0;
    if (connection != nullptr) disconnect(connection);
    return reachable;
}

}  // namespace stview

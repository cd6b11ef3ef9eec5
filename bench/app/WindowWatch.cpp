#include "bench/app/WindowWatch.h"

#include <chrono>

#ifdef HAVE_XCB_DAMAGE
#include <cstdlib>
#include <map>
#include <poll.h>
#include <xcb/damage.h>
#include <xcb/xcb.h>

struct WindowWatch::Impl {
    xcb_connection_t* conn = nullptr;
    xcb_window_t root = 0;
    uint8_t damageEvent = 0;
    struct Window {
        int Width = 0, Height = 0;
        bool Mapped = false;
    };
    std::map<xcb_window_t, Window> windows;

    Impl()
    {
        if (!std::getenv("DISPLAY"))
            return;
        conn = xcb_connect(nullptr, nullptr);
        if (xcb_connection_has_error(conn)) {
            xcb_disconnect(conn);
            conn = nullptr;
            return;
        }
        const xcb_query_extension_reply_t* ext = xcb_get_extension_data(conn, &xcb_damage_id);
        if (!ext || !ext->present) {
            xcb_disconnect(conn);
            conn = nullptr;
            return;
        }
        damageEvent = ext->first_event + XCB_DAMAGE_NOTIFY;
        free(xcb_damage_query_version_reply(conn, xcb_damage_query_version(conn, 1, 1), nullptr));
        root = xcb_setup_roots_iterator(xcb_get_setup(conn)).data->root;
        const uint32_t mask = XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY;
        xcb_change_window_attributes(conn, root, XCB_CW_EVENT_MASK, &mask);
        xcb_flush(conn);
    }
    ~Impl()
    {
        if (conn)
            xcb_disconnect(conn);
    }
};

WindowWatch::WindowWatch() : impl_(std::make_unique<Impl>()) {}
WindowWatch::~WindowWatch() = default;
bool WindowWatch::Available() const { return impl_->conn != nullptr; }

void WindowWatch::Arm()
{
    if (!impl_->conn)
        return;
    impl_->windows.clear();
    while (xcb_generic_event_t* e = xcb_poll_for_event(impl_->conn))
        free(e);
}

WindowWatch::Times WindowWatch::Wait(long long sinceNs, int timeoutMs, int minSize)
{
    Times times;
    if (!impl_->conn)
        return times;
    using Clock = std::chrono::steady_clock;
    auto elapsedMs = [sinceNs] {
        return double(std::chrono::duration_cast<std::chrono::nanoseconds>(Clock::now().time_since_epoch()).count() -
                      sinceNs) /
               1e6;
    };
    xcb_window_t mainWindow = 0;
    while (elapsedMs() < timeoutMs && times.PaintedMs < 0) {
        xcb_generic_event_t* e = xcb_poll_for_event(impl_->conn);
        if (!e) {
            pollfd p{xcb_get_file_descriptor(impl_->conn), POLLIN, 0};
            poll(&p, 1, 5);
            continue;
        }
        const double now = elapsedMs();
        const uint8_t type = e->response_type & 0x7F;
        if (type == XCB_CREATE_NOTIFY) {
            auto* c = reinterpret_cast<xcb_create_notify_event_t*>(e);
            if (c->parent == impl_->root) {
                impl_->windows[c->window] = {c->width, c->height, false};
                // Watch for drawing from the start: the first paint may follow the map at once.
                xcb_damage_create(impl_->conn, xcb_generate_id(impl_->conn), c->window,
                                  XCB_DAMAGE_REPORT_LEVEL_NON_EMPTY);
                xcb_flush(impl_->conn);
            }
        } else if (type == XCB_CONFIGURE_NOTIFY) {
            auto* c = reinterpret_cast<xcb_configure_notify_event_t*>(e);
            auto it = impl_->windows.find(c->window);
            if (it != impl_->windows.end()) {
                it->second.Width = c->width;
                it->second.Height = c->height;
            }
        } else if (type == XCB_MAP_NOTIFY) {
            auto* m = reinterpret_cast<xcb_map_notify_event_t*>(e);
            auto it = impl_->windows.find(m->window);
            if (it != impl_->windows.end() && it->second.Width >= minSize && it->second.Height >= minSize &&
                !mainWindow) {
                mainWindow = m->window;
                times.MappedMs = now;
            }
        } else if (type == impl_->damageEvent) {
            auto* d = reinterpret_cast<xcb_damage_notify_event_t*>(e);
            if (mainWindow && d->drawable == mainWindow)
                times.PaintedMs = now;
        }
        free(e);
    }
    return times;
}

#else

struct WindowWatch::Impl {};
WindowWatch::WindowWatch() : impl_(std::make_unique<Impl>()) {}
WindowWatch::~WindowWatch() = default;
bool WindowWatch::Available() const { return false; }
void WindowWatch::Arm() {}
WindowWatch::Times WindowWatch::Wait(long long, int, int) { return {}; }

#endif

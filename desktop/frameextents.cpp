#include "desktop/frameextents.h"

#ifdef QELVO_WITH_X11
#include "posix/clock.h"

#include <QGuiApplication>
#include <algorithm>
#include <array>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <xcb/xcb.h>
#endif

namespace desktop {

#ifdef QELVO_WITH_X11
namespace {

constexpr std::chrono::milliseconds kAnswerTime{500};
constexpr std::chrono::milliseconds kPollTime{1};
constexpr std::uint32_t kLongWords = 1024;

template <typename Reply> using Owned = std::unique_ptr<Reply, decltype(&std::free)>;

// The atoms of the names, asked for together: one round trip to the X server.
template <std::size_t N>
std::array<xcb_atom_t, N> atoms(xcb_connection_t* connection,
                                const std::array<const char*, N>& names)
{
    std::array<xcb_intern_atom_cookie_t, N> cookies{};
    for (std::size_t i = 0; i < N; ++i) {
        cookies[i] = xcb_intern_atom(connection, 0,
                                     static_cast<std::uint16_t>(std::strlen(names[i])), names[i]);
    }
    std::array<xcb_atom_t, N> found{};
    for (std::size_t i = 0; i < N; ++i) {
        const Owned<xcb_intern_atom_reply_t> reply(
            xcb_intern_atom_reply(connection, cookies[i], nullptr), &std::free);
        found[i] = reply ? reply->atom : xcb_atom_t{XCB_ATOM_NONE};
    }
    return found;
}

Owned<xcb_get_property_reply_t> property(xcb_connection_t* connection, xcb_window_t window,
                                         xcb_atom_t name, xcb_atom_t type)
{
    return {xcb_get_property_reply(
                connection, xcb_get_property(connection, 0, window, name, type, 0, kLongWords),
                nullptr),
            &std::free};
}

bool supports(xcb_connection_t* connection, xcb_window_t root, xcb_atom_t supportedList,
              xcb_atom_t request)
{
    const auto supported = property(connection, root, supportedList, XCB_ATOM_ATOM);
    if (!supported || supported->format != 32) {
        return false;
    }
    const auto* atoms = static_cast<const xcb_atom_t*>(xcb_get_property_value(supported.get()));
    const int count = xcb_get_property_value_length(supported.get()) / 4;
    return std::find(atoms, atoms + count, request) != atoms + count;
}

} // namespace

QMargins frameExtents(WId window, qreal devicePixelRatio)
{
    // Other platforms may offer the interface without a connection (offscreen does).
    auto* x11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>();
    xcb_connection_t* connection = x11 != nullptr ? x11->connection() : nullptr;
    if (connection == nullptr) {
        return {};
    }
    const auto id = static_cast<xcb_window_t>(window);
    const xcb_screen_t* screen = xcb_setup_roots_iterator(xcb_get_setup(connection)).data;
    const auto [supported, request, extents] = atoms<3>(
        connection, {"_NET_SUPPORTED", "_NET_REQUEST_FRAME_EXTENTS", "_NET_FRAME_EXTENTS"});
    if (screen == nullptr || !supports(connection, screen->root, supported, request)) {
        return {};
    }
    xcb_client_message_event_t message{};
    message.response_type = XCB_CLIENT_MESSAGE;
    message.format = 32;
    message.window = id;
    message.type = request;
    xcb_send_event(connection, 0, screen->root,
                   XCB_EVENT_MASK_SUBSTRUCTURE_REDIRECT | XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY,
                   reinterpret_cast<const char*>(&message));
    xcb_flush(connection);

    // Left, right, top, bottom, in device pixels.
    std::array<std::uint32_t, 4> sides{};
    const bool told = posix::waitFor(kAnswerTime, kPollTime, [&, atom = extents] {
        const auto reply = property(connection, id, atom, XCB_ATOM_CARDINAL);
        if (!reply || reply->format != 32 || xcb_get_property_value_length(reply.get()) != 16) {
            return false;
        }
        std::memcpy(sides.data(), xcb_get_property_value(reply.get()), sizeof(sides));
        return true;
    });
    if (!told) {
        return {};
    }
    return QMargins(qRound(sides[0] / devicePixelRatio), qRound(sides[2] / devicePixelRatio),
                    qRound(sides[1] / devicePixelRatio), qRound(sides[3] / devicePixelRatio));
}
#else
QMargins frameExtents(WId /*window*/, qreal /*devicePixelRatio*/)
{
    return {};
}
#endif

} // namespace desktop

// Asks the Wayland compositor for an activation token and prints it, as a desktop's launcher
// does for what it starts (XDG_ACTIVATION_TOKEN). Usage: activation_token
#include "xdg-activation-v1-client-protocol.h"
#include "xdg-activation-v1-protocol.inc"

#include <cstdio>
#include <cstring>
#include <string>
#include <wayland-client.h>

namespace {

struct Found {
    xdg_activation_v1* activation = nullptr;
    std::string token;
    bool done = false;
};

void announced(void* data, wl_registry* registry, uint32_t name, const char* interface,
               uint32_t /*version*/)
{
    if (std::strcmp(interface, xdg_activation_v1_interface.name) == 0) {
        static_cast<Found*>(data)->activation = static_cast<xdg_activation_v1*>(
            wl_registry_bind(registry, name, &xdg_activation_v1_interface, 1));
    }
}

void withdrawn(void* /*data*/, wl_registry* /*registry*/, uint32_t /*name*/) {}

void given(void* data, xdg_activation_token_v1* /*token*/, const char* token)
{
    auto* found = static_cast<Found*>(data);
    found->token = token;
    found->done = true;
}

const wl_registry_listener kRegistry{announced, withdrawn};
const xdg_activation_token_v1_listener kToken{given};

} // namespace

int main()
{
    wl_display* display = wl_display_connect(nullptr);
    if (display == nullptr) {
        std::fprintf(stderr, "activation_token: no Wayland display\n");
        return 1;
    }
    Found found;
    wl_registry* registry = wl_display_get_registry(display);
    wl_registry_add_listener(registry, &kRegistry, &found);
    wl_display_roundtrip(display);
    if (found.activation == nullptr) {
        std::fprintf(stderr, "activation_token: the compositor has no xdg-activation\n");
        return 1;
    }
    xdg_activation_token_v1* token = xdg_activation_v1_get_activation_token(found.activation);
    xdg_activation_token_v1_add_listener(token, &kToken, &found);
    xdg_activation_token_v1_commit(token);
    while (!found.done && wl_display_dispatch(display) >= 0) {
    }
    std::printf("%s\n", found.token.c_str());
    wl_display_disconnect(display);
    return found.done ? 0 : 1;
}

#pragma once

// The start every data-control helper shares: a connection, the first seat and the wlroots
// data-control manager.
#include "wlr-data-control-unstable-v1-client-protocol.h"

#include <wayland-client.h>

#include <cstdio>
#include <cstring>

struct DataControlClient {
    wl_display* display = nullptr;
    wl_seat* seat = nullptr;
    zwlr_data_control_manager_v1* manager = nullptr;

    // False, with the reason on stderr, when the compositor cannot be used.
    bool connect()
    {
        display = wl_display_connect(nullptr);
        if (!display) {
            std::fprintf(stderr, "no Wayland display\n");
            return false;
        }
        static constexpr wl_registry_listener listener {
            [](void* data, wl_registry* registry, uint32_t name, const char* interface, uint32_t) {
                auto* self = static_cast<DataControlClient*>(data);
                if (std::strcmp(interface, wl_seat_interface.name) == 0 && !self->seat)
                    self->seat = static_cast<wl_seat*>(wl_registry_bind(registry, name, &wl_seat_interface, 1));
                else if (std::strcmp(interface, zwlr_data_control_manager_v1_interface.name) == 0)
                    self->manager = static_cast<zwlr_data_control_manager_v1*>(
                        wl_registry_bind(registry, name, &zwlr_data_control_manager_v1_interface, 1));
            },
            [](void*, wl_registry*, uint32_t) {}};
        wl_registry_add_listener(wl_display_get_registry(display), &listener, this);
        wl_display_roundtrip(display);
        if (!seat || !manager) {
            std::fprintf(stderr, "no seat or no data-control manager\n");
            return false;
        }
        return true;
    }

    // A device of the helper's own, to take the clipboard with; READY is printed once it is made.
    zwlr_data_control_device_v1* readyDevice()
    {
        zwlr_data_control_device_v1* device = zwlr_data_control_manager_v1_get_data_device(manager, seat);
        zwlr_data_control_device_v1_add_listener(device, &offersDropped, nullptr);
        wl_display_roundtrip(display);
        std::printf("READY\n");
        std::fflush(stdout);
        return device;
    }

    // The device hears of every selection too: those offers are dropped at once.
    static constexpr zwlr_data_control_device_v1_listener offersDropped {
        [](void*, zwlr_data_control_device_v1*, zwlr_data_control_offer_v1*) {},
        [](void*, zwlr_data_control_device_v1*, zwlr_data_control_offer_v1* offer) {
            if (offer)
                zwlr_data_control_offer_v1_destroy(offer);
        },
        [](void*, zwlr_data_control_device_v1*) {},
        [](void*, zwlr_data_control_device_v1*, zwlr_data_control_offer_v1* offer) {
            if (offer)
                zwlr_data_control_offer_v1_destroy(offer);
        }};
};

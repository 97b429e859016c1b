// A Wayland client that takes the clipboard through the data-control protocol as many times as
// it is told (the first argument), three times a millisecond, each time with a fresh source
// offering several types. It prints READY once connected and DONE when the flood is over,
// then exits.
#include "DataControlClient.h"

#include <unistd.h>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <initializer_list>
#include <thread>

namespace {

// Readers get nothing; a replaced source is let go.
void send(void*, zwlr_data_control_source_v1*, const char*, int32_t fd) { close(fd); }
void cancelled(void*, zwlr_data_control_source_v1* source) { zwlr_data_control_source_v1_destroy(source); }
const zwlr_data_control_source_v1_listener sourceListener {send, cancelled};

} // namespace

int main(int argc, char** argv)
{
    std::signal(SIGPIPE, SIG_IGN);
    const int count = argc > 1 ? std::atoi(argv[1]) : 5000;
    DataControlClient client;
    if (!client.connect())
        return 1;
    wl_display* display = client.display;
    zwlr_data_control_device_v1* device = client.readyDevice();

    const auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < count; ++i) {
        if (i % 3 == 0)
            std::this_thread::sleep_until(start + std::chrono::milliseconds(i / 3));
        zwlr_data_control_source_v1* source = zwlr_data_control_manager_v1_create_data_source(client.manager);
        zwlr_data_control_source_v1_add_listener(source, &sourceListener, nullptr);
        for (const char* type : {"text/plain;charset=utf-8", "text/plain", "UTF8_STRING", "STRING", "TEXT",
                                 "text/html", "application/x-flooding-source-with-a-rather-long-type-name"})
            zwlr_data_control_source_v1_offer(source, type);
        zwlr_data_control_device_v1_set_selection(device, source);
        // Its own events are read now and then, so that the compositor never drops this client.
        if (i % 50 == 49 && wl_display_roundtrip(display) < 0) {
            std::fprintf(stderr, "the compositor ended the connection\n");
            return 1;
        }
    }
    wl_display_roundtrip(display);
    std::printf("DONE\n");
    std::fflush(stdout);
    return 0;
}

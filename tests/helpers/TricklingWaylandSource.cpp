// A Wayland client that takes the clipboard through the data-control protocol and answers every
// reader one byte every 400 ms, never closing its pipe. It prints READY once its selection is set,
// ASKED each time a reader asks for it, and serves until it is killed.
//   --silent   never writes a byte: each reader's pipe is held open and left unanswered
//   --types N  offers N more made-up types besides its text ones, then stays silent on its
//              connection, never answering
#include "DataControlClient.h"

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

std::vector<int> readers;

void send(void*, zwlr_data_control_source_v1*, const char*, int32_t fd)
{
    fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK);
    readers.push_back(fd);
    std::printf("ASKED\n"); // a reader is waiting on it
    std::fflush(stdout);
}
void cancelled(void*, zwlr_data_control_source_v1*) { }
const zwlr_data_control_source_v1_listener sourceListener {send, cancelled};

} // namespace

int main(int argc, char** argv)
{
    std::signal(SIGPIPE, SIG_IGN);
    bool silent = false;
    long extraTypes = 0;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--silent") == 0)
            silent = true;
        else if (std::strcmp(argv[i], "--types") == 0 && i + 1 < argc)
            extraTypes = std::atol(argv[++i]);
    }
    DataControlClient client;
    if (!client.connect())
        return 1;
    wl_display* display = client.display;
    zwlr_data_control_device_v1* device = zwlr_data_control_manager_v1_get_data_device(client.manager, client.seat);
    zwlr_data_control_source_v1* source = zwlr_data_control_manager_v1_create_data_source(client.manager);
    zwlr_data_control_source_v1_add_listener(source, &sourceListener, nullptr);
    for (const char* type : {"text/plain;charset=utf-8", "text/plain", "UTF8_STRING"})
        zwlr_data_control_source_v1_offer(source, type);
    for (long i = 0; i < extraTypes; ++i) {
        zwlr_data_control_source_v1_offer(source, ("application/x-made-up-type-" + std::to_string(i)).c_str());
        // Its own requests are sent in batches the compositor has taken: a full socket would end it.
        if (i % 500 == 499 && wl_display_roundtrip(display) < 0)
            return 1;
    }
    zwlr_data_control_device_v1_set_selection(device, source);
    if (extraTypes > 0) {
        // Its own device is sent the offer too, more than the compositor can send it at once: the
        // compositor gives up on this client and would drop it the moment it next spoke. So it
        // says nothing more, and its copy stays the clipboard's.
        wl_display_flush(display);
        std::printf("READY\n");
        std::fflush(stdout);
        for (;;)
            pause();
    }
    if (wl_display_roundtrip(display) < 0)
        return 1;
    std::printf("READY\n");
    std::fflush(stdout);

    auto nextByte = std::chrono::steady_clock::now();
    for (;;) {
        wl_display_flush(display);
        pollfd descriptor {wl_display_get_fd(display), POLLIN, 0};
        const auto wait = std::chrono::duration_cast<std::chrono::milliseconds>(nextByte - std::chrono::steady_clock::now());
        if (poll(&descriptor, 1, int(wait.count() > 0 ? wait.count() : 0)) > 0) {
            if (wl_display_dispatch(display) < 0)
                return 0;
        }
        if (std::chrono::steady_clock::now() < nextByte)
            continue;
        nextByte += std::chrono::milliseconds(400);
        if (silent)
            continue;
        std::vector<int> open;
        for (int fd : readers) {
            if (write(fd, "x", 1) == 1)
                open.push_back(fd);
            else
                close(fd); // the reader gave up
        }
        readers = open;
    }
}

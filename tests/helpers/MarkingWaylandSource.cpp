// A Wayland client that copies the way a password manager does: it may offer a text and then offer
// it again marked as a secret. It reads commands from stdin, one line at a time, each a list of
// steps separated by ';', and prints SET once the compositor has taken the line's copies, with the
// milliseconds between its first and last copy as sent (a busy machine stretches pauses):
//   copy TEXT   takes the clipboard with TEXT
//   mark TEXT   takes it with TEXT and the password manager's hint
//   pause MS    waits MS milliseconds before the next step
//   slow TEXT   takes it with TEXT, answers its first reader 200 ms late and marks TEXT at once after
//   crowd TEXT  marks TEXT listing 30,000 more types, from a second connection that never reads
//               again (the compositor cannot pass that many on to its own device either); its
//               first connection's device is let go, so only SET follows, and the line must be last
// Every copy it made is served with its own text for as long as the compositor asks for it.
#include "DataControlClient.h"

#include <poll.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <sstream>
#include <string>
#include <thread>
#include <utility>

namespace {

struct Copy {
    std::string text;
    bool slow = false; // answered late once, then marked
};

DataControlClient* client = nullptr;
zwlr_data_control_device_v1* device = nullptr;

void offer(const std::string& verb, const std::string& text);

void send(void* data, zwlr_data_control_source_v1*, const char* type, int32_t fd)
{
    Copy& copy = *static_cast<Copy*>(data);
    const std::string answer = std::strcmp(type, "x-kde-passwordManagerHint") == 0 ? "secret" : copy.text;
    if (copy.slow)
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
    [[maybe_unused]] const ssize_t written = write(fd, answer.data(), answer.size());
    close(fd);
    if (std::exchange(copy.slow, false)) {
        offer("mark", copy.text);
        wl_display_flush(client->display);
    }
}
void cancelled(void* data, zwlr_data_control_source_v1* source)
{
    delete static_cast<Copy*>(data);
    zwlr_data_control_source_v1_destroy(source);
}
const zwlr_data_control_source_v1_listener sourceListener {send, cancelled};

// The copy of crowd: made once, and served by nobody.
void offerCrowded(const std::string& text)
{
    zwlr_data_control_device_v1_destroy(device);
    device = nullptr;
    wl_display_roundtrip(client->display);
    auto* second = new DataControlClient;
    if (!second->connect())
        std::exit(1);
    zwlr_data_control_device_v1* secondDevice = zwlr_data_control_manager_v1_get_data_device(second->manager, second->seat);
    zwlr_data_control_source_v1* source = zwlr_data_control_manager_v1_create_data_source(second->manager);
    zwlr_data_control_source_v1_add_listener(source, &sourceListener, new Copy {text, false});
    for (const char* type : {"text/plain;charset=utf-8", "text/plain", "UTF8_STRING"})
        zwlr_data_control_source_v1_offer(source, type);
    for (int i = 0; i < 30000; ++i) {
        zwlr_data_control_source_v1_offer(source, ("application/x-lumra-crowded-" + std::to_string(i)).c_str());
        // In batches the compositor has taken: a full socket would end the connection.
        if (i % 500 == 499 && wl_display_roundtrip(second->display) < 0)
            std::exit(1);
    }
    zwlr_data_control_source_v1_offer(source, "x-kde-passwordManagerHint");
    zwlr_data_control_device_v1_set_selection(secondDevice, source);
    wl_display_flush(second->display);
}

void offer(const std::string& verb, const std::string& text)
{
    if (verb == "crowd")
        return offerCrowded(text);
    zwlr_data_control_source_v1* source = zwlr_data_control_manager_v1_create_data_source(client->manager);
    zwlr_data_control_source_v1_add_listener(source, &sourceListener, new Copy {text, verb == "slow"});
    for (const char* type : {"text/plain;charset=utf-8", "text/plain", "UTF8_STRING"})
        zwlr_data_control_source_v1_offer(source, type);
    if (verb == "mark")
        zwlr_data_control_source_v1_offer(source, "x-kde-passwordManagerHint");
    zwlr_data_control_device_v1_set_selection(device, source);
}

// Readers are answered during a pause too; false when the compositor ended the connection.
bool serveUntil(wl_display* display, std::chrono::steady_clock::time_point end)
{
    for (auto now = std::chrono::steady_clock::now(); now < end; now = std::chrono::steady_clock::now()) {
        wl_display_flush(display);
        pollfd descriptor {wl_display_get_fd(display), POLLIN, 0};
        const auto wait = std::chrono::duration_cast<std::chrono::milliseconds>(end - now).count();
        if (poll(&descriptor, 1, int(wait)) > 0 && wl_display_dispatch(display) < 0)
            return false;
    }
    return true;
}

} // namespace

int main()
{
    std::signal(SIGPIPE, SIG_IGN);
    DataControlClient connection;
    if (!connection.connect())
        return 1;
    client = &connection;
    wl_display* display = connection.display;
    device = connection.readyDevice();

    std::string pending;
    for (;;) {
        wl_display_flush(display);
        pollfd descriptors[2] {{wl_display_get_fd(display), POLLIN, 0}, {STDIN_FILENO, POLLIN, 0}};
        if (poll(descriptors, 2, -1) < 0)
            continue;
        if ((descriptors[0].revents & POLLIN) && wl_display_dispatch(display) < 0)
            return 1;
        if (!(descriptors[1].revents & (POLLIN | POLLHUP)))
            continue;
        char buffer[4096];
        const ssize_t count = read(STDIN_FILENO, buffer, sizeof buffer);
        if (count <= 0)
            return 0;
        pending.append(buffer, count);
        for (size_t end; (end = pending.find('\n')) != std::string::npos; pending.erase(0, end + 1)) {
            std::istringstream steps(pending.substr(0, end));
            std::chrono::steady_clock::time_point firstSent, lastSent;
            for (std::string step; std::getline(steps, step, ';');) {
                const size_t space = step.find(' ');
                const std::string verb = step.substr(0, space);
                const std::string argument = space == std::string::npos ? std::string() : step.substr(space + 1);
                if (verb == "pause") {
                    if (!serveUntil(display, std::chrono::steady_clock::now()
                                        + std::chrono::milliseconds(std::atoi(argument.c_str()))))
                        return 1;
                    continue;
                }
                offer(verb, argument);
                wl_display_flush(display);
                lastSent = std::chrono::steady_clock::now();
                if (firstSent == std::chrono::steady_clock::time_point())
                    firstSent = lastSent;
            }
            if (wl_display_roundtrip(display) < 0)
                return 1;
            std::printf("SET %lld\n",
                        (long long)std::chrono::duration_cast<std::chrono::milliseconds>(lastSent - firstSent).count());
            std::fflush(stdout);
        }
    }
}

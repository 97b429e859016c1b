// A converter program that speaks the converter's protocol but misbehaves on purpose. Its answer
// to a request is "{\rtf1 " + the request's HTML + "}", unless the mode says otherwise:
//   two-answers    answers every request twice
//   too-large      announces 64 MB and sends that much of "{\rtf1 x"
//   not-rtf        answers with 1 MB of "x"
//   one-then-quit  answers the first request of its life and quits on reading the next
//   spin           reads the request and keeps the CPU busy, never answering
//   slow-start     keeps the CPU busy for 2.5 s before it says it is ready, and 0.3 s on each request
//   slow-answer    waits 2.5 s, without using the CPU, before each answer
#include "platform/richtext/HtmlConverter.h"

#include <chrono>
#include <ctime>
#include <cstring>
#include <string>
#include <thread>
#include <unistd.h>

using lumra::RichText::HtmlConverter;

namespace {

bool readAll(void* bytes, size_t size)
{
    auto data = static_cast<char*>(bytes);
    while (size > 0) {
        const ssize_t got = ::read(STDIN_FILENO, data, size);
        if (got <= 0)
            return false;
        data += got;
        size -= size_t(got);
    }
    return true;
}

bool writeAll(const void* bytes, size_t size)
{
    auto data = static_cast<const char*>(bytes);
    while (size > 0) {
        const ssize_t written = ::write(STDOUT_FILENO, data, size);
        if (written <= 0)
            return false;
        data += written;
        size -= size_t(written);
    }
    return true;
}

void burnCpu(std::chrono::milliseconds cpuTime)
{
    const auto end = std::clock() + std::clock_t(cpuTime.count() * (CLOCKS_PER_SEC / 1000));
    while (std::clock() < end) {
    }
}

bool answer(quint64 id, const std::string& rtf)
{
    const HtmlConverter::Header header {id, qint64(rtf.size())};
    return writeAll(&header, sizeof header) && writeAll(rtf.data(), rtf.size());
}

} // namespace

int main(int argc, char** argv)
{
    const std::string mode = argc > 2 ? argv[2] : "";
    if (mode == "slow-start")
        burnCpu(std::chrono::milliseconds(2500));
    if (!writeAll(&HtmlConverter::readyMark, sizeof HtmlConverter::readyMark))
        return 0;
    for (int served = 0;; ++served) {
        HtmlConverter::Header request;
        if (!readAll(&request, sizeof request) || request.bytes < 0 || (mode == "one-then-quit" && served == 1))
            return 0;
        std::u16string html(size_t(request.bytes / 2), u'\0');
        if (!readAll(html.data(), size_t(request.bytes)))
            return 0;
        std::string rtf = "{\\rtf1 ";
        for (char16_t c : html)
            rtf += char(c);
        rtf += "}";
        if (mode == "spin")
            for (;;)
                burnCpu(std::chrono::milliseconds(1000));
        if (mode == "slow-start")
            burnCpu(std::chrono::milliseconds(300));
        if (mode == "slow-answer")
            std::this_thread::sleep_for(std::chrono::milliseconds(2500));
        if (mode == "too-large") {
            const HtmlConverter::Header header {request.id, qint64(64) * 1024 * 1024};
            const std::string piece = "{\\rtf1 " + std::string(1 << 20, 'x');
            if (!writeAll(&header, sizeof header))
                return 0;
            for (qint64 sent = 0; sent < header.bytes; sent += qint64(piece.size()))
                if (!writeAll(piece.data(), piece.size()))
                    return 0;
            continue;
        }
        if (mode == "not-rtf")
            rtf = std::string(1 << 20, 'x');
        if (!answer(request.id, rtf) || (mode == "two-answers" && !answer(request.id, rtf)))
            return 0;
    }
}

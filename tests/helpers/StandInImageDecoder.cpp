// A decoder program that speaks the decoder's protocol but misbehaves on purpose. It answers a
// picture with 'P' and the picture's own bytes (tests send PNGs, as bytes or as a file), unless
// the mode says otherwise:
//   answer-empty   answers every request with no bytes
//   answer-none    answers every request with -1 bytes
//   hold-svg GATE  holds an SVG, without using the CPU and without reading, until the file GATE
//                  exists, then refuses it; while it holds one, the file GATE-held-PID exists.
//                  The size of every other picture is added to GATE-served, in the order served
//   hoard GATE     touches 256 MB, then holds the request until the file GATE exists
#include "platform/image/ImageDecoder.h"
#include "platform/process/HelperProcess.h"

#include <QFile>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>
#include <thread>
#include <vector>
#include <unistd.h>

using lumra::image::ImageDecoder;
using lumra::process::HelperProcess;

namespace {

void waitFor(const std::string& gate)
{
    while (::access(gate.c_str(), F_OK) != 0)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
}

bool answer(quint64 id, qint64 bytes, const QByteArray& data = {})
{
    const HelperProcess::Header header {id, bytes};
    return HelperProcess::writeAll(reinterpret_cast<const char*>(&header), sizeof header)
        && HelperProcess::writeAll(data.constData(), data.size());
}

} // namespace

int main(int argc, char** argv)
{
    // Like the decoder, it ends with Lumra however Lumra ends.
    if (!HelperProcess::beginProgram(2, argv, "lumra-stand-in", qint64(1) << 40))
        return 2;
    const std::string mode = argc > 2 ? argv[2] : "";
    const std::string gate = argc > 3 ? argv[3] : "";
    const std::string held = gate + "-held-" + std::to_string(::getpid());
    if (!HelperProcess::writeAll(reinterpret_cast<const char*>(&ImageDecoder::readyMark), sizeof ImageDecoder::readyMark))
        return 0;
    std::vector<char> hoard;
    for (;;) {
        HelperProcess::Header header;
        ImageDecoder::DecodeRequest request;
        int descriptor = -1;
        if (!HelperProcess::readAll(reinterpret_cast<char*>(&header), sizeof header, &descriptor)
            || header.bytes < qint64(sizeof request) || !HelperProcess::readAll(reinterpret_cast<char*>(&request), sizeof request))
            return 0;
        QByteArray picture(header.bytes - qint64(sizeof request), '\0');
        if (!HelperProcess::readAll(picture.data(), picture.size()))
            return 0;
        if (descriptor >= 0) { // a picture file: small in the tests, read whole
            QFile file;
            if (request.fromDescriptor && file.open(descriptor, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle))
                picture = file.readAll();
            else
                ::close(descriptor);
        }
        bool sent = false;
        if (mode == "answer-empty") {
            sent = answer(header.id, 0);
        } else if (mode == "answer-none") {
            sent = answer(header.id, -1);
        } else if (mode == "hold-svg" && picture.startsWith("<svg")) {
            std::fclose(std::fopen(held.c_str(), "w"));
            waitFor(gate);
            std::remove(held.c_str());
            sent = answer(header.id, 4, "Rsvg");
        } else {
            if (mode == "hold-svg") {
                FILE* served = std::fopen((gate + "-served").c_str(), "a");
                std::fprintf(served, "%lld\n", static_cast<long long>(picture.size()));
                std::fclose(served);
            }
            if (mode == "hoard") {
                hoard.assign(size_t(256) << 20, '\0');
                std::memset(hoard.data(), 1, hoard.size());
                waitFor(gate);
            }
            sent = answer(header.id, picture.size() + 1, 'P' + picture);
        }
        if (!sent)
            return 0;
    }
}

#pragma once

#include <QByteArray>
#include <QDataStream>
#include <QIODevice>

namespace lumra::test {

// A mono 8-bit PCM WAV file of silence, as any recorder would write it.
inline QByteArray wavOfSilence(int seconds)
{
    const quint32 rate = 8000;
    const quint32 dataBytes = rate * quint32(seconds);
    QByteArray wav;
    QDataStream out(&wav, QIODevice::WriteOnly);
    out.setByteOrder(QDataStream::LittleEndian);
    out.writeRawData("RIFF", 4);
    out << quint32(36 + dataBytes);
    out.writeRawData("WAVEfmt ", 8);
    out << quint32(16) << quint16(1) << quint16(1) << rate << rate << quint16(1) << quint16(8);
    out.writeRawData("data", 4);
    out << dataBytes;
    wav.append(QByteArray(qsizetype(dataBytes), char(0x80)));
    return wav;
}

} // namespace lumra::test

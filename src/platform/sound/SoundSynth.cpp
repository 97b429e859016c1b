#include "platform/sound/SoundSynth.h"

#include "platform/core/Folders.h"

#include <QDir>
#include <QFile>
#include <QSaveFile>
#include <QtEndian>

#include <algorithm>
#include <cmath>
#include <numbers>

namespace lumra::sound {

namespace {

enum class Wave { sine, triangle, saw, softSquare, noise };

// One voice of a sound: a tone (or filtered noise, whose `frequency` is the filter's
// cut-off) gliding from `frequency` to `frequencyEnd`, shaped by a linear attack and an
// exponential decay, optionally with vibrato and tremolo.
struct Voice {
    double start;
    double duration;
    double frequency;
    double frequencyEnd;
    double amplitude;
    Wave wave = Wave::sine;
    double attack = 0.005;
    double decay = 0.2;
    double vibratoHz = 0;
    double vibratoDepth = 0;
    double tremoloHz = 0;
};

struct Recipe {
    const char* name;
    std::vector<Voice> voices;
};

const std::vector<Recipe>& recipes()
{
    using enum Wave;
    static const std::vector<Recipe> all {
        { "Basso", { { 0, 0.55, 98, 92, 0.7, softSquare, 0.005, 0.25 }, { 0, 0.55, 196, 184, 0.3, sine, 0.005, 0.2 } } },
        { "Blow", { { 0, 0.45, 1400, 500, 1.0, noise, 0.15, 0.3 }, { 0, 0.45, 340, 320, 0.15, sine, 0.12, 0.3 } } },
        { "Bottle", { { 0, 0.4, 520, 515, 0.8, sine, 0.03, 0.18 }, { 0, 0.4, 1040, 1030, 0.15, sine, 0.03, 0.12 },
                      { 0, 0.05, 3000, 3000, 0.25, noise, 0.002, 0.02 } } },
        { "Frog", { { 0, 0.12, 160, 140, 0.8, saw, 0.005, 0.1, 0, 0, 35 }, { 0.16, 0.14, 150, 120, 0.8, saw, 0.005, 0.1, 0, 0, 30 } } },
        { "Funk", { { 0, 0.35, 300, 180, 0.7, softSquare, 0.005, 0.12 }, { 0, 0.35, 600, 360, 0.3, saw, 0.005, 0.1 } } },
        { "Glass", { { 0, 0.8, 1568, 1568, 0.6, sine, 0.002, 0.35 }, { 0, 0.8, 2352, 2352, 0.3, sine, 0.002, 0.25 },
                     { 0, 0.8, 3136, 3136, 0.15, sine, 0.002, 0.15 } } },
        { "Hero", { { 0, 0.15, 523, 523, 0.6, triangle, 0.005, 0.2 }, { 0.12, 0.15, 659, 659, 0.6, triangle, 0.005, 0.2 },
                    { 0.24, 0.15, 784, 784, 0.6, triangle, 0.005, 0.2 }, { 0.36, 0.45, 1047, 1047, 0.7, triangle, 0.005, 0.25 } } },
        { "Morse", { { 0, 0.07, 800, 800, 0.6, softSquare, 0.003, 1.0 }, { 0.12, 0.07, 800, 800, 0.6, softSquare, 0.003, 1.0 },
                     { 0.24, 0.2, 800, 800, 0.6, softSquare, 0.003, 1.0 } } },
        { "Ping", { { 0, 0.6, 1320, 1320, 0.8, sine, 0.002, 0.22 } } },
        { "Pop", { { 0, 0.07, 900, 180, 0.9, sine, 0.001, 0.03 }, { 0, 0.015, 4000, 4000, 0.3, noise, 0.001, 0.01 } } },
        { "Purr", { { 0, 0.5, 55, 55, 0.6, saw, 0.05, 0.4, 0, 0, 24 }, { 0, 0.5, 300, 300, 0.4, noise, 0.05, 0.4, 0, 0, 24 } } },
        { "Sosumi", { { 0, 0.18, 988, 988, 0.6, triangle, 0.003, 0.15 }, { 0.16, 0.45, 1319, 1319, 0.6, triangle, 0.003, 0.2 } } },
        { "Submarine", { { 0, 1.0, 440, 440, 0.7, sine, 0.01, 0.4, 5, 0.01 }, { 0.3, 0.7, 440, 440, 0.25, sine, 0.01, 0.3, 5, 0.01 } } },
        { "Tink", { { 0, 0.12, 2637, 2637, 0.7, sine, 0.001, 0.03 }, { 0, 0.12, 5274, 5274, 0.2, sine, 0.001, 0.02 } } },
    };
    return all;
}

// xorshift32: the same noise on every machine and every run.
class Noise {
public:
    double next()
    {
        m_state ^= m_state << 13;
        m_state ^= m_state >> 17;
        m_state ^= m_state << 5;
        return double(m_state) / 2147483648.0 - 1.0;
    }

private:
    quint32 m_state = 0x9e3779b9u;
};

double waveAt(Wave wave, double phase)
{
    const double cycle = phase / (2 * std::numbers::pi);
    const double fraction = cycle - std::floor(cycle);
    switch (wave) {
    case Wave::sine:
        return std::sin(phase);
    case Wave::triangle:
        return 1.0 - 4.0 * std::abs(fraction - 0.5);
    case Wave::saw:
        return 2.0 * fraction - 1.0;
    case Wave::softSquare:
        return std::tanh(3.0 * std::sin(phase));
    case Wave::noise:
        break;
    }
    return 0.0;
}

void render(const Voice& voice, std::vector<double>& out)
{
    const auto first = size_t(std::lround(voice.start * sampleRate));
    const auto count = size_t(std::lround(voice.duration * sampleRate));
    constexpr double release = 0.005; // fade out so no voice ends in a click
    Noise noise;
    double phase = 0;
    double filtered = 0;
    for (size_t i = 0; i < count && first + i < out.size(); ++i) {
        const double t = double(i) / sampleRate;
        double frequency = voice.frequency + (voice.frequencyEnd - voice.frequency) * t / voice.duration;
        if (voice.vibratoHz > 0)
            frequency *= 1.0 + voice.vibratoDepth * std::sin(2 * std::numbers::pi * voice.vibratoHz * t);

        double value;
        if (voice.wave == Wave::noise) {
            // One-pole low-pass at `frequency`.
            const double alpha = 1.0 - std::exp(-2 * std::numbers::pi * frequency / sampleRate);
            filtered += alpha * (noise.next() - filtered);
            value = filtered * 2.0;
        } else {
            phase += 2 * std::numbers::pi * frequency / sampleRate;
            value = waveAt(voice.wave, phase);
        }

        double envelope = voice.attack > 0 && t < voice.attack ? t / voice.attack : 1.0;
        envelope *= std::exp(-t / voice.decay);
        envelope *= std::min(1.0, (voice.duration - t) / release);
        if (voice.tremoloHz > 0)
            envelope *= 0.5 + 0.5 * std::sin(2 * std::numbers::pi * voice.tremoloHz * t);
        out[first + i] += voice.amplitude * envelope * value;
    }
}

} // namespace

const QStringList& storedSoundNames()
{
    static const QStringList names = [] {
        QStringList list;
        for (const Recipe& recipe : recipes())
            list.append(QString::fromLatin1(recipe.name));
        return list;
    }();
    return names;
}

QByteArray wavData(const std::vector<qint16>& samples, int rate)
{
    const quint32 dataBytes = quint32(samples.size() * 2);
    QByteArray out;
    out.reserve(44 + qsizetype(dataBytes));
    const auto u32 = [&](quint32 v) { char b[4]; qToLittleEndian(v, b); out.append(b, 4); };
    const auto u16 = [&](quint16 v) { char b[2]; qToLittleEndian(v, b); out.append(b, 2); };
    out.append("RIFF");
    u32(36 + dataBytes);
    out.append("WAVEfmt ");
    u32(16);
    u16(1); // PCM
    u16(1); // mono
    u32(quint32(rate));
    u32(quint32(rate) * 2);
    u16(2);
    u16(16);
    out.append("data");
    u32(dataBytes);
    for (qint16 sample : samples)
        u16(quint16(sample));
    return out;
}

QByteArray synthesizeSound(const QString& name)
{
    const auto recipe = std::find_if(recipes().begin(), recipes().end(),
                                     [&](const Recipe& r) { return name == QLatin1String(r.name); });
    if (recipe == recipes().end())
        return QByteArray();

    double length = 0;
    for (const Voice& voice : recipe->voices)
        length = std::max(length, voice.start + voice.duration);
    std::vector<double> mix(size_t(std::lround(length * sampleRate)), 0.0);
    for (const Voice& voice : recipe->voices)
        render(voice, mix);

    double peak = 0;
    for (double v : mix)
        peak = std::max(peak, std::abs(v));
    const double gain = peak > 0 ? 0.6 * 32767 / peak : 0;
    std::vector<qint16> samples(mix.size());
    std::transform(mix.begin(), mix.end(), samples.begin(), [gain](double v) { return qint16(std::lround(v * gain)); });
    return wavData(samples);
}

Result<QString> storedSoundFile(const QString& name)
{
    const QByteArray data = synthesizeSound(name);
    if (data.isEmpty())
        return Result<QString>::failure(QStringLiteral("There is no sound named \"%1\".").arg(name));
    const QString folder = Folders::cacheFolder() + QStringLiteral("/sounds");
    if (!QDir().mkpath(folder))
        return Result<QString>::failure(QStringLiteral("Could not create the folder %1.").arg(folder));
    const QString path = folder + QLatin1Char('/') + name + QStringLiteral(".wav");

    QFile existing(path);
    if (existing.size() == data.size() && existing.open(QIODevice::ReadOnly) && existing.readAll() == data)
        return path;
    existing.close();

    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(data) != data.size() || !file.commit())
        return Result<QString>::failure(QStringLiteral("Could not write %1: %2").arg(path, file.errorString()));
    return path;
}

} // namespace lumra::sound

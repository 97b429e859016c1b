// The settings portal's answer for the colour scheme, which any program owning the portal's name
// on the session bus can give: values of any type, wrapped in variants to any depth.
#include "FuzzSupport.h"

#include "platform/desktop/PortalColorScheme.h"

#include <QDBusVariant>
#include <QVariantList>

#include <cstring>

using namespace lumra;

namespace {

template <typename T>
T take(QByteArrayView& in)
{
    T value {};
    const qsizetype n = std::min<qsizetype>(qsizetype(sizeof value), in.size());
    std::memcpy(&value, in.data(), size_t(n));
    in = in.sliced(n);
    return value;
}

// One value as Qt D-Bus hands it over, built from the bytes.
QVariant value(QByteArrayView& in, int depth, int& budget)
{
    if (in.isEmpty() || depth > 64 || --budget < 0)
        return {};
    switch (take<uint8_t>(in) % 9) {
    case 0: return QVariant::fromValue(take<quint32>(in));
    case 1: return QVariant::fromValue(take<qint32>(in));
    case 2: return QVariant::fromValue(QDBusVariant(value(in, depth + 1, budget)));
    case 3: {
        const qsizetype n = std::min<qsizetype>(take<uint8_t>(in), in.size());
        const QString text = QString::fromUtf8(in.first(n));
        in = in.sliced(n);
        return text;
    }
    case 4: return QVariant::fromValue(take<double>(in));
    case 5: return QVariant::fromValue(take<qint64>(in));
    case 6: return QVariant::fromValue(take<quint8>(in));
    case 7: return QVariant::fromValue(bool(take<uint8_t>(in) & 1));
    default: {
        QVariantList list;
        for (int n = take<uint8_t>(in) % 4; n > 0; --n)
            list.append(value(in, depth + 1, budget));
        return list;
    }
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QByteArray bytes = fuzz::unfold(data, size);
    QByteArrayView in(bytes);
    int budget = 4096; // values, however the lists nest
    const QVariant reply = value(in, 0, budget);
    const std::optional<ColorScheme> scheme = colorSchemeFromPortalValue(reply);
    // Only 0, 1 or 2 as a D-Bus integer, within the variants the portal wraps it in.
    QVariant inner = reply;
    int wraps = 0;
    while (inner.userType() == qMetaTypeId<QDBusVariant>()) {
        inner = inner.value<QDBusVariant>().variant();
        ++wraps;
    }
    if (scheme) {
        FUZZ_CHECK(wraps <= 3);
        FUZZ_CHECK(inner.userType() == QMetaType::UInt || inner.userType() == QMetaType::Int);
        FUZZ_CHECK(inner.toLongLong() == int(*scheme));
    }
    return 0;
}

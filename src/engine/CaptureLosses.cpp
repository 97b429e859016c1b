#include "engine/CaptureLosses.h"

#include "model/Diagnostics.h"

#include <QLoggingCategory>
#include <QStringList>

#include <numeric>

Q_LOGGING_CATEGORY(lcCaptureLosses, "lumra.capture")

namespace lumra {

namespace {

const QString categoryName = QStringLiteral("Capture");

void say(bool warning, const QString& message)
{
    if (warning) {
        qCWarning(lcCaptureLosses).noquote() << message;
        Diagnostics::shared().warn(categoryName, message);
    } else {
        qCInfo(lcCaptureLosses).noquote() << message;
        Diagnostics::shared().info(categoryName, message);
    }
}

// Said in every mode: a copy the user made is missing from the history for good.
bool warns(CaptureLosses::Kind kind)
{
    return kind == CaptureLosses::Kind::refused || kind == CaptureLosses::Kind::quit
        || kind == CaptureLosses::Kind::notSaved;
}

} // namespace

CaptureLosses::CaptureLosses(Clock& clock, std::chrono::milliseconds window)
    : m_clock(clock)
    , m_window(window)
{
}

CaptureLosses::~CaptureLosses() { sumUp(); }

void CaptureLosses::note(Kind kind, const QString& message, qint64 count)
{
    if (count <= 0)
        return;
    Diagnostics::shared().countLostCopies(count);
    if (m_burst && m_burst->isActive()) {
        m_held[size_t(kind)] += count;
        if (kind == Kind::refused)
            m_lastRefusal = message;
        return;
    }
    say(warns(kind),
        message + QStringLiteral(" (%1 not recorded since Lumra started)").arg(Diagnostics::shared().lostCopies()));
    m_burst = m_clock.start(m_window, false, [this] { sumUp(); });
}

// Called by the burst's timer as it fires, which therefore stays until the next burst.
void CaptureLosses::sumUp()
{
    const qint64 total = std::accumulate(m_held.begin(), m_held.end(), qint64(0));
    if (total == 0)
        return;
    static const std::array<QString, 7> reasons {
        QStringLiteral("replaced before Lumra looked"), QStringLiteral("replaced before they were read"),
        QStringLiteral("not handed over by their owner"), QStringLiteral("refused"),
        QStringLiteral("not finished when Lumra quit"), QStringLiteral("left out as the settings or their owner ask"),
        QStringLiteral("not saved")};
    QStringList parts;
    for (size_t kind = 0; kind < m_held.size(); ++kind) {
        if (m_held[kind] > 0)
            parts.append(QString::number(m_held[kind]) + QLatin1Char(' ') + reasons[kind]);
    }
    QString message = QStringLiteral("Copies not recorded in the %1 s after: %2 (")
                          .arg(double(m_window.count()) / 1000.0)
                          .arg(total)
        + parts.join(QLatin1String(", ")) + QLatin1Char(')');
    if (!m_lastRefusal.isEmpty())
        message += QStringLiteral(" (last refused: ") + m_lastRefusal + QLatin1Char(')');
    message += QStringLiteral("; %1 not recorded since Lumra started").arg(Diagnostics::shared().lostCopies());
    say(m_held[size_t(Kind::refused)] > 0 || m_held[size_t(Kind::quit)] > 0 || m_held[size_t(Kind::notSaved)] > 0,
        message);
    m_held = {};
    m_lastRefusal.clear();
}

} // namespace lumra

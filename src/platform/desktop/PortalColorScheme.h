#pragma once

#include <QDBusConnection>
#include <QObject>

#include <optional>

class QDBusPendingCallWatcher;
class QDBusVariant;

namespace lumra {

// The desktop's light or dark preference as the settings portal publishes it
// ("org.freedesktop.appearance" "color-scheme": 0 none, 1 dark, 2 light).
enum class ColorScheme { noPreference, dark, light };

// The portal's value, unwrapped from the variants around it; none for anything else.
std::optional<ColorScheme> colorSchemeFromPortalValue(const QVariant& value);

// Follows the preference: asks once, without blocking, and then listens for its changes. Nothing
// is known until the portal answered; a desktop without the portal never answers.
class PortalColorScheme : public QObject {
    Q_OBJECT
public:
    explicit PortalColorScheme(QDBusConnection bus, QObject* parent = nullptr);
    ~PortalColorScheme() override;

    std::optional<ColorScheme> scheme() const { return m_scheme; }

signals:
    void schemeChanged(lumra::ColorScheme scheme);

private slots:
    void settingChanged(const QString& group, const QString& key, const QDBusVariant& value);

private:
    void read(const QString& method);
    void answered(QDBusPendingCallWatcher* call, const QString& method);
    void take(std::optional<ColorScheme> scheme);

    QDBusConnection m_bus;
    std::optional<ColorScheme> m_scheme;
    bool m_changedMeanwhile = false; // a change signal outranks an answer still on its way
};

} // namespace lumra

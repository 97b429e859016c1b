// Light and dark from the desktop's settings portal, against a stand-in portal in a process of its
// own on a private D-Bus daemon.
#include "ui/DesktopPalette.h"

#include "ui/Palettes.h"
#include "PrivateBus.h"
#include "ThisProgram.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCall>
#include <QDBusVariant>
#include <QDBusVirtualObject>
#include <QProcess>
#include <QSignalSpy>
#include <QStyle>
#include <QWidget>

#include <iostream>

namespace lumra {
namespace {

const char* const portalBusVariable = "LUMRA_FAKE_SETTINGS_PORTAL_BUS";
const char* const portalModeVariable = "LUMRA_FAKE_SETTINGS_PORTAL_MODE";
const QString portalPath = QStringLiteral("/org/freedesktop/portal/desktop");
const QString settingsInterface = QStringLiteral("org.freedesktop.portal.Settings");

// Answers the colour scheme as xdg-desktop-portal does. Modes: "current" (ReadOne), "old" (Read
// only, the value wrapped twice), "silent" (never answers a read). "Change" (a call of the tests)
// makes it announce a new value, after an unrelated setting.
class FakeSettingsPortal final : public QDBusVirtualObject {
public:
    FakeSettingsPortal(QDBusConnection bus, QString mode) : m_bus(std::move(bus)), m_mode(std::move(mode)) {}
    QString introspect(const QString&) const override { return {}; }

    bool handleMessage(const QDBusMessage& message, const QDBusConnection&) override
    {
        const QString member = message.member();
        const QStringList args {message.arguments().value(0).toString(), message.arguments().value(1).toString()};
        const bool asksScheme = args == QStringList {"org.freedesktop.appearance", "color-scheme"};
        if (m_mode == QLatin1String("silent") && (member == "ReadOne" || member == "Read")) {
            std::cout << "IGNORED:" << member.toStdString() << std::endl;
        } else if (member == "ReadOne" && m_mode == QLatin1String("current") && asksScheme) {
            m_bus.send(message.createReply(QVariant::fromValue(QDBusVariant(m_scheme))));
        } else if (member == "Read" && m_mode == QLatin1String("old") && asksScheme) {
            m_bus.send(message.createReply(QVariant::fromValue(QDBusVariant(QVariant::fromValue(QDBusVariant(m_scheme))))));
        } else if (member == "Change") {
            m_scheme = message.arguments().value(0).toUInt();
            announce("org.gnome.desktop.interface", "color-scheme", QVariant::fromValue(QDBusVariant(QStringLiteral("prefer-dark"))));
            announce("org.freedesktop.appearance", "accent-color", QVariant::fromValue(QDBusVariant(1u)));
            announce("org.freedesktop.appearance", "color-scheme", QVariant::fromValue(QDBusVariant(m_scheme)));
            m_bus.send(message.createReply());
        } else {
            m_bus.send(message.createErrorReply(QDBusError::UnknownMethod, QStringLiteral("No such method")));
        }
        return true;
    }

private:
    void announce(const char* group, const char* key, const QVariant& value)
    {
        QDBusMessage changed = QDBusMessage::createSignal(portalPath, settingsInterface, "SettingChanged");
        changed << QString::fromLatin1(group) << QString::fromLatin1(key) << value;
        m_bus.send(changed);
    }

    QDBusConnection m_bus;
    QString m_mode;
    uint m_scheme = 1; // dark
};

class DesktopPaletteTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (!test::PrivateBus::available())
            GTEST_SKIP() << "dbus-daemon is not installed";
        ASSERT_TRUE(m_bus.start());
        QApplication::setPalette(m_light);
    }
    void TearDown() override
    {
        QDBusConnection::disconnectFromBus("lumra-settings-portal-test");
        m_portal.kill();
        m_portal.waitForFinished();
        QApplication::setPalette(m_light);
    }

    void startPortal(const QString& mode)
    {
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(portalBusVariable, m_bus.address());
        environment.insert(portalModeVariable, mode);
        m_portal.setProcessEnvironment(environment);
        lumra::test::startThisProgram(m_portal, {"--gtest_filter=FakeSettingsPortalProcess.*"});
        ASSERT_TRUE(test::processEventsUntil([&] { return output().contains("READY"); }, 20000)) << qPrintable(output());
    }
    QString output()
    {
        m_output += QString::fromUtf8(m_portal.readAllStandardOutput());
        return m_output;
    }
    QDBusConnection bus() { return QDBusConnection::connectToBus(m_bus.address(), "lumra-settings-portal-test"); }
    void change(uint scheme)
    {
        QDBusMessage call = QDBusMessage::createMethodCall("org.freedesktop.portal.Desktop", portalPath, settingsInterface, "Change");
        call << scheme;
        bus().asyncCall(call);
    }
    static bool windowIsDark() { return QApplication::palette().color(QPalette::Window).lightness() < 128; }

    QPalette m_light = QApplication::style()->standardPalette();
    test::PrivateBus m_bus;
    QProcess m_portal;
    QString m_output;
};

} // namespace

// Portal mode only: the stand-in portal of DesktopPaletteTest.
TEST(FakeSettingsPortalProcess, ServesTheColourScheme)
{
    if (!qEnvironmentVariableIsSet(portalBusVariable))
        GTEST_SKIP() << "runs as the portal of DesktopPaletteTest";
    QDBusConnection bus = QDBusConnection::connectToBus(qEnvironmentVariable(portalBusVariable), "portal");
    FakeSettingsPortal portal(bus, qEnvironmentVariable(portalModeVariable));
    ASSERT_TRUE(bus.registerVirtualObject(portalPath, &portal, QDBusConnection::SubPath));
    ASSERT_TRUE(bus.registerService("org.freedesktop.portal.Desktop"));
    std::cout << "READY" << std::endl;
    test::processEventsUntil([] { return false; }, 60000);
}

TEST_F(DesktopPaletteTest, FollowsTheDesktopAtOnceBothWays)
{
    for (const char* mode : {"current", "old"}) {
        SCOPED_TRACE(mode);
        m_output.clear();
        startPortal(QString::fromLatin1(mode));
        QWidget window;
        window.show();
        DesktopPalette palette(bus(), m_light);
        ASSERT_TRUE(test::processEventsUntil(windowIsDark, 10000)) << "the portal says dark";
        // The change reaches open windows as an event of their own, later on a busy machine.
        test::processEventsUntil([&] { return window.palette().color(QPalette::Window) == Palettes::dark().color(QPalette::Window); }, 10000);
        EXPECT_EQ(window.palette().color(QPalette::Window), Palettes::dark().color(QPalette::Window)) << "open windows follow";
        change(2);
        ASSERT_TRUE(test::processEventsUntil([] { return !windowIsDark(); }, 10000)) << "then light";
        EXPECT_EQ(QApplication::palette().color(QPalette::Window), m_light.color(QPalette::Window));
        change(1);
        ASSERT_TRUE(test::processEventsUntil(windowIsDark, 10000));
        change(0); // no preference: Lumra's light palette
        ASSERT_TRUE(test::processEventsUntil([] { return !windowIsDark(); }, 10000));
        m_portal.kill();
        m_portal.waitForFinished();
        QDBusConnection::disconnectFromBus("lumra-settings-portal-test");
        QApplication::setPalette(m_light);
    }
}

TEST_F(DesktopPaletteTest, APortalThatNeverAnswersHoldsNothingUp)
{
    startPortal(QStringLiteral("silent"));
    DesktopPalette palette(bus(), m_light);
    ASSERT_TRUE(test::processEventsUntil([&] { return output().contains("IGNORED:ReadOne"); }, 10000)) << qPrintable(output());
    EXPECT_FALSE(windowIsDark()) << "nothing known: the palette stays";
    // A change announced while the read is still unanswered is taken.
    change(1);
    ASSERT_TRUE(test::processEventsUntil(windowIsDark, 10000));
}

TEST(DesktopPaletteRules, OnlyWhereNoThemeGivesColoursAndOnlyForSchemeValues)
{
    const auto environment = [](std::initializer_list<std::pair<const char*, const char*>> values) {
        QProcessEnvironment e;
        for (const auto& [key, value] : values)
            e.insert(QString::fromLatin1(key), QString::fromLatin1(value));
        return e;
    };
    EXPECT_TRUE(followsPortalColorScheme(environment({{"XDG_CURRENT_DESKTOP", "GNOME"}})));
    EXPECT_TRUE(followsPortalColorScheme(environment({{"XDG_CURRENT_DESKTOP", "ubuntu:GNOME"}})));
    EXPECT_TRUE(followsPortalColorScheme(environment({})));
    EXPECT_FALSE(followsPortalColorScheme(environment({{"XDG_CURRENT_DESKTOP", "KDE"}})));
    EXPECT_FALSE(followsPortalColorScheme(environment({{"KDE_FULL_SESSION", "true"}})));
    EXPECT_FALSE(followsPortalColorScheme(environment({{"XDG_CURRENT_DESKTOP", "GNOME"}, {"QT_QPA_PLATFORMTHEME", "qt6ct"}})));

    EXPECT_EQ(colorSchemeFromPortalValue(QVariant::fromValue(QDBusVariant(1u))), ColorScheme::dark);
    EXPECT_EQ(colorSchemeFromPortalValue(QVariant::fromValue(QDBusVariant(QVariant::fromValue(QDBusVariant(2u))))), ColorScheme::light);
    EXPECT_EQ(colorSchemeFromPortalValue(QVariant(0u)), ColorScheme::noPreference);
    for (const QVariant& hostile : {QVariant(7u), QVariant(QStringLiteral("dark")), QVariant(), QVariant(1.0),
                                    QVariant::fromValue(QDBusVariant(QVariant::fromValue(QDBusVariant(QVariant::fromValue(QDBusVariant(QVariant::fromValue(QDBusVariant(1u))))))))})
        EXPECT_FALSE(colorSchemeFromPortalValue(hostile).has_value()) << hostile.typeName();
}

} // namespace lumra

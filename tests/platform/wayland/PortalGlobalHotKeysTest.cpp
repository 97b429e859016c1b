// Global shortcuts through the desktop portal, against a stand-in portal in a process of its own
// on a private D-Bus daemon.
#include "platform/wayland/WaylandGlobalHotKeys.h"

#include "model/ClipboardItem.h"
#include "platform/keys/EventWait.h"

#include "PrivateBus.h"
#include "ThisProgram.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusVirtualObject>
#include <QProcess>
#include <QSignalSpy>

#include <iostream>

namespace lumra {
namespace {

const char* const portalVariable = "LUMRA_FAKE_PORTAL_BUS";
const QString portalPath = QStringLiteral("/org/freedesktop/portal/desktop");
const QString shortcutsInterface = QStringLiteral("org.freedesktop.portal.GlobalShortcuts");

// Answers as xdg-desktop-portal does: each call returns a request path at once and its result
// comes later as that request's Response signal. Bound shortcuts are printed, and the first one
// is pressed at once.
class FakePortal final : public QDBusVirtualObject {
public:
    explicit FakePortal(QDBusConnection bus)
        : m_bus(std::move(bus))
    {
    }
    QString introspect(const QString&) const override { return {}; }

    bool handleMessage(const QDBusMessage& message, const QDBusConnection&) override
    {
        const QString member = message.member();
        if (member == QLatin1String("Get")) {
            m_bus.send(message.createReply(QVariant::fromValue(QDBusVariant(1u))));
        } else if (member == QLatin1String("CreateSession")) {
            const QVariantMap options = qdbus_cast<QVariantMap>(message.arguments().at(0));
            const QString session = QStringLiteral("/org/freedesktop/portal/desktop/session/%1/%2")
                                        .arg(sender(message), options.value("session_handle_token").toString());
            answer(message, options.value("handle_token").toString(), {{"session_handle", session}});
        } else if (member == QLatin1String("BindShortcuts")) {
            const QString session = qdbus_cast<QDBusObjectPath>(message.arguments().at(0)).path();
            const QDBusArgument list = message.arguments().at(1).value<QDBusArgument>();
            QStringList ids;
            list.beginArray();
            while (!list.atEnd()) {
                QString id;
                QVariantMap properties;
                list.beginStructure();
                list >> id >> properties;
                list.endStructure();
                ids << id;
                std::cout << "BOUND:" << id.toStdString() << "=" << properties.value("preferred_trigger").toString().toStdString()
                          << std::endl;
            }
            list.endArray();
            const QVariantMap options = qdbus_cast<QVariantMap>(message.arguments().at(3));
            answer(message, options.value("handle_token").toString(), {});
            if (!ids.isEmpty()) {
                QDBusMessage pressed = QDBusMessage::createSignal(portalPath, shortcutsInterface, "Activated");
                pressed << QVariant::fromValue(QDBusObjectPath(session)) << ids.first() << qulonglong(42) << QVariantMap();
                m_bus.send(pressed);
            }
        } else {
            m_bus.send(message.createReply());
        }
        return true;
    }

private:
    static QString sender(const QDBusMessage& message)
    {
        QString name = message.service().mid(1);
        return name.replace('.', '_');
    }
    void answer(const QDBusMessage& message, const QString& token, const QVariantMap& results)
    {
        const QString request = QStringLiteral("/org/freedesktop/portal/desktop/request/%1/%2").arg(sender(message), token);
        m_bus.send(message.createReply(QVariant::fromValue(QDBusObjectPath(request))));
        QDBusMessage response = QDBusMessage::createSignal(request, "org.freedesktop.portal.Request", "Response");
        response << 0u << results;
        m_bus.send(response);
    }

    QDBusConnection m_bus;
};

class PortalGlobalHotKeysTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (!test::PrivateBus::available())
            GTEST_SKIP() << "dbus-daemon is not installed";
        ASSERT_TRUE(m_bus.start());
        m_address = m_bus.address();
    }
    void TearDown() override
    {
        QDBusConnection::disconnectFromBus("lumra-portal-test");
        m_portal.kill();
        m_portal.waitForFinished();
    }

    void startPortal()
    {
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(portalVariable, m_address);
        m_portal.setProcessEnvironment(environment);
        lumra::test::startThisProgram(m_portal, {"--gtest_filter=FakePortalProcess.*"});
        ASSERT_TRUE(test::processEventsUntil([&] { return portalOutput().contains("READY"); }, 60000));
    }
    QString portalOutput()
    {
        m_output += QString::fromUtf8(m_portal.readAllStandardOutput());
        return m_output;
    }
    QDBusConnection bus() { return QDBusConnection::connectToBus(m_address, "lumra-portal-test"); }

    test::PrivateBus m_bus;
    QProcess m_portal;
    QString m_address;
    QString m_output;
};

} // namespace

// Portal mode only: the stand-in portal of PortalGlobalHotKeysTest.
TEST(FakePortalProcess, ServesGlobalShortcuts)
{
    if (!qEnvironmentVariableIsSet(portalVariable))
        GTEST_SKIP() << "runs as the portal of PortalGlobalHotKeysTest";
    QDBusConnection bus = QDBusConnection::connectToBus(qEnvironmentVariable(portalVariable), "portal");
    FakePortal portal(bus);
    ASSERT_TRUE(bus.registerVirtualObject(portalPath, &portal, QDBusConnection::SubPath));
    ASSERT_TRUE(bus.registerService("org.freedesktop.portal.Desktop"));
    std::cout << "READY" << std::endl;
    test::processEventsUntil([] { return false; }, 30000);
}

TEST_F(PortalGlobalHotKeysTest, ShortcutsAreBoundThroughThePortalAndFireFromIt)
{
    startPortal();
    auto keys = WaylandGlobalHotKeys::create(nullptr, bus());
    ASSERT_TRUE(keys->usesPortal());
    EXPECT_TRUE(keys->limitation().isEmpty());
    QSignalSpy activated(keys.get(), &GlobalHotKeys::activated);

    const quint64 ctrlAlt = ItemShortcut::commandFlag | ItemShortcut::optionFlag;
    ASSERT_TRUE(keys->registerHotKey(1, 9, ctrlAlt).ok());
    ASSERT_TRUE(keys->registerHotKey(200, 18, ItemShortcut::controlFlag).ok());

    ASSERT_TRUE(test::processEventsUntil([&] { return !activated.isEmpty(); }, 10000)) << qPrintable(portalOutput());
    EXPECT_EQ(activated.first().first().toUInt(), 1u);
    // Both keys went in one binding, each with the trigger the desktop understands.
    EXPECT_EQ(portalOutput().count("BOUND:"), 2) << qPrintable(portalOutput());
    EXPECT_TRUE(portalOutput().contains("BOUND:lumra-9-180000=CTRL+ALT+v")) << qPrintable(portalOutput());
    EXPECT_TRUE(portalOutput().contains("BOUND:lumra-18-40000=LOGO+1")) << qPrintable(portalOutput());
}

TEST_F(PortalGlobalHotKeysTest, WithoutThePortalRegistrationsAreKeptAndTheLimitIsSaid)
{
    auto keys = WaylandGlobalHotKeys::create(nullptr, bus());
    EXPECT_FALSE(keys->usesPortal());
    EXPECT_TRUE(keys->limitation().contains("\u201clumra\u201d")) << qPrintable(keys->limitation());
    EXPECT_TRUE(keys->registerHotKey(1, 9, ItemShortcut::commandFlag | ItemShortcut::optionFlag).ok());
}

} // namespace lumra

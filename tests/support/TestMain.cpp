#include <gtest/gtest.h>

#include <QApplication>
#include <QLocale>

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    // Date and locale dependent tests assume these unless they set their own.
    if (qEnvironmentVariableIsEmpty("TZ"))
        qputenv("TZ", "UTC");
    QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Lumra"));
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}

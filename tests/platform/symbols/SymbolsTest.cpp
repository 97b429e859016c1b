#include "platform/symbols/Symbols.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QHash>
#include <QPainter>
#include <QImage>

namespace lumra {
namespace {

// Symbol names that are stored as settings or category values.
const QStringList trayIconChoices{
    "doc.on.clipboard.fill", "doc.on.clipboard", "clipboard.fill", "clipboard", "list.clipboard.fill",
    "list.clipboard", "scissors", "doc.on.doc.fill", "doc.on.doc", "square.on.square", "tray.fill",
    "archivebox.fill"};
const QStringList categoryIconChoices{
    "folder.fill", "tray.fill", "doc.fill", "doc.text.fill", "bookmark.fill", "tag.fill", "link", "paperclip",
    "globe", "lock.fill", "pin.fill", "flag.fill", "bell.fill", "envelope.fill", "message.fill", "star.fill",
    "heart.fill", "bolt.fill", "flame.fill", "leaf.fill", "camera.fill", "paintbrush.fill", "wrench.fill", "gear",
    "cart.fill", "gift.fill", "lightbulb.fill", "book.fill", "graduationcap.fill", "desktopcomputer",
    "house.fill", "car.fill", "airplane", "clock.fill", "person.fill", "music.note"};

TEST(SymbolsTest, EveryStoredChoiceHasAThemeIcon)
{
    for (const QStringList* list : {&trayIconChoices, &categoryIconChoices}) {
        for (const QString& name : *list) {
            EXPECT_TRUE(Symbols::isKnown(name)) << name.toStdString();
            EXPECT_FALSE(Symbols::icon(name).isNull()) << name.toStdString();
            EXPECT_FALSE(Symbols::icon(name).pixmap(16, 16).isNull()) << name.toStdString();
            EXPECT_NE(Symbols::icon(name).name(), Symbols::genericIcon().name()) << name.toStdString();
        }
    }
}

TEST(SymbolsTest, TheDefaultTrayIconIsDrawnWhateverTheTheme)
{
    const QImage icon = Symbols::icon("doc.on.clipboard.fill").pixmap(22, 22).toImage();
    ASSERT_FALSE(icon.isNull());
    int inked = 0;
    for (int y = 0; y < icon.height(); ++y)
        for (int x = 0; x < icon.width(); ++x)
            inked += qAlpha(icon.pixel(x, y)) > 128 ? 1 : 0;
    EXPECT_GT(inked, 22 * 22 / 6); // a solid picture, not a hairline
}

TEST(SymbolsTest, UnknownNamesGetTheGenericIconNotAnEmptyOne)
{
    for (const QString& name : {QString("no.such.symbol"), QString(), QString("../../etc/passwd")}) {
        EXPECT_FALSE(Symbols::isKnown(name));
        const QIcon icon = Symbols::icon(name);
        EXPECT_FALSE(icon.isNull()) << name.toStdString();
        EXPECT_FALSE(icon.pixmap(16, 16).isNull()) << name.toStdString();
    }
}

} // namespace
} // namespace lumra

namespace lumra {
namespace {

TEST(SymbolsTest, PinAndUnpinLookApart)
{
    const QImage pin = Symbols::icon("pin").pixmap(32, 32).toImage();
    const QImage unpin = Symbols::icon("pin.slash").pixmap(32, 32).toImage();
    ASSERT_FALSE(unpin.isNull());
    EXPECT_NE(pin, unpin);
}

} // namespace
} // namespace lumra

namespace lumra {
namespace {

// Each choice of a picker, and each pair of menu entries shown together, gets a picture of its own.
TEST(SymbolsTest, ChoicesShownTogetherLookApart)
{
    const QList<QStringList> groups{trayIconChoices, categoryIconChoices, {"star", "star.slash", "star.fill"},
                                    {"trash", "trash.slash"}, {"pin", "pin.slash"}, {"eye", "eye.slash"}};
    for (const QStringList& group : groups) {
        QHash<QString, QString> seen; // picture -> first symbol with it
        for (const QString& name : group) {
            const QImage image = Symbols::icon(name).pixmap(32, 32).toImage().convertToFormat(QImage::Format_ARGB32);
            const QString key = QString::fromLatin1(QByteArray(reinterpret_cast<const char*>(image.constBits()), image.sizeInBytes()).toBase64());
            EXPECT_FALSE(seen.contains(key)) << name.toStdString() << " looks like " << seen.value(key).toStdString();
            seen.insert(key, name);
        }
    }

    // A sheet of every group, twelve to a row, at the size the pickers show them, to be looked at.
    QList<QStringList> rows;
    for (const QStringList& group : groups) {
        for (qsizetype i = 0; i < group.size(); i += 12)
            rows << group.mid(i, 12);
    }
    QImage sheet(12 * 40 + 8, int(rows.size()) * 40 + 8, QImage::Format_ARGB32);
    sheet.fill(QColor(0xf6, 0xf5, 0xf4));
    QPainter painter(&sheet);
    for (int row = 0; row < rows.size(); ++row) {
        for (int i = 0; i < rows[row].size(); ++i)
            painter.drawPixmap(8 + i * 40, 8 + row * 40, Symbols::icon(rows[row][i]).pixmap(32, 32));
    }
    painter.end();
    const QString folder = qEnvironmentVariable("LUMRA_BUILD_DIR", QDir::currentPath()) + QStringLiteral("/artifacts");
    QDir().mkpath(folder);
    EXPECT_TRUE(sheet.save(folder + QStringLiteral("/symbols.png")));
}

} // namespace
} // namespace lumra

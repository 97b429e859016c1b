#include "platform/symbols/Symbols.h"

#include <gtest/gtest.h>

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

TEST(SymbolsTest, TheDefaultTrayIconComesFromTheTheme)
{
    const QIcon icon = Symbols::icon("doc.on.clipboard.fill");
    EXPECT_TRUE(icon.name().startsWith("edit-paste")) << icon.name().toStdString();
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

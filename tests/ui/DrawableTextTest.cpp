#include "ui/DrawableText.h"

#include <QFontDatabase>
#include <QList>
#include <QStringList>

#include <gtest/gtest.h>

namespace lumra {
namespace {

// A character of the last private-use plane: no font draws it, so it stands for any symbol the
// computer has no font for.
const QString undrawable = QString::fromUcs4(U"\U0010FFFD");

TEST(DrawableText, SymbolsNoFontHasAreLeftOutWithTheirSpace)
{
    const QFont font;
    EXPECT_FALSE(canDraw(undrawable, font));
    struct Case {
        QString text;
        QString shown;
    };
    const QList<Case> cases {
        {QStringLiteral("Saved 5 minutes of copying & pasting ") + undrawable, QStringLiteral("Saved 5 minutes of copying & pasting")},
        {undrawable + QStringLiteral(" Synced just now"), QStringLiteral("Synced just now")},
        {QStringLiteral("Sync ") + undrawable + QStringLiteral(" stalled"), QStringLiteral("Sync stalled")},
        {undrawable + undrawable, QString()},
        // Letters of other scripts that the text font has stay, accents and all.
        {QStringLiteral("Lindenstra\u00DFe \u05E9\u05DC\u05D5\u05DD \u0645\u0631\u062D\u0628\u0627 \u00E9\u0301"),
         QStringLiteral("Lindenstra\u00DFe \u05E9\u05DC\u05D5\u05DD \u0645\u0631\u062D\u0628\u0627 \u00E9\u0301")},
        {QStringLiteral("a  b"), QStringLiteral("a  b")},
    };
    for (const Case& c : cases)
        EXPECT_EQ(drawableText(c.text, font), c.shown) << c.text.toStdString();
}

TEST(DrawableText, EmojiStayWhereAColourFontDrawsThem)
{
    if (!QFontDatabase::families().contains(QStringLiteral("Noto Color Emoji")))
        GTEST_SKIP() << "scripts/install-deps installs the emoji font";
    const QFont font;
    for (const char32_t* emoji : {U"\U0001F389", U"\u2705", U"\u274C", U"\U0001F504", U"\u26A0\uFE0F"}) {
        const QString symbol = QString::fromUcs4(emoji);
        EXPECT_TRUE(canDraw(symbol, font)) << symbol.toStdString();
        EXPECT_EQ(drawableText(QStringLiteral("Synced ") + symbol, font), QStringLiteral("Synced ") + symbol);
    }
}

} // namespace
} // namespace lumra

#include "ui/shell/Prompt.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>

namespace lumra {
namespace {

// The real alert: a fixed box with no maximise button, wide enough for its whole title, and the
// answer is the index of the button pressed.
TEST(MessageBoxPromptServiceTest, AlertsShowTheirWholeTitleAndOfferNoMaximise)
{
    const QString title = QStringLiteral("Delete \"Quarterly planning and budget review\" item?");
    Qt::WindowFlags flags;
    int width = 0;
    int needed = 0;
    QTimer::singleShot(0, [&] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        ASSERT_TRUE(box);
        flags = box->windowFlags();
        width = box->width();
        needed = alertMinimumWidth(title, box->fontMetrics());
        box->buttons().constFirst()->click();
    });
    MessageBoxPromptService service;
    const int answer = service.alert(title, QStringLiteral("This cannot be undone."), {QStringLiteral("Delete"), QStringLiteral("Cancel")},
                                     PromptService::Style::warning);
    EXPECT_GE(answer, 0);
    EXPECT_TRUE(flags & Qt::CustomizeWindowHint);
    EXPECT_FALSE(flags & Qt::WindowMaximizeButtonHint);
    EXPECT_FALSE(flags & Qt::WindowMinimizeButtonHint);
    EXPECT_GT(needed, 140);
    EXPECT_GE(width, needed);
}

} // namespace
} // namespace lumra

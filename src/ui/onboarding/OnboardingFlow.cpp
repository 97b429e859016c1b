#include "ui/onboarding/OnboardingFlow.h"

#include "platform/defaults/UserDefaults.h"

#include <QList>

#include <algorithm>

namespace lumra {

namespace OnboardingFlow {

QList<OnboardingPage> sequence(bool needsPermission)
{
    QList<OnboardingPage> pages {OnboardingPage::welcome, OnboardingPage::getSetUp, OnboardingPage::whatToCapture,
                                 OnboardingPage::privacy};
    if (needsPermission)
        pages << OnboardingPage::permission;
    pages << OnboardingPage::layout << OnboardingPage::tips << OnboardingPage::finish;
    return pages;
}

OnboardingPage pageAt(int index, bool needsPermission)
{
    const QList<OnboardingPage> pages = sequence(needsPermission);
    return pages[std::clamp(index, 0, int(pages.size()) - 1)];
}

int indexOf(OnboardingPage page, bool needsPermission)
{
    if (page == OnboardingPage::permission && !needsPermission)
        page = OnboardingPage::layout;
    return int(sequence(needsPermission).indexOf(page));
}

int dotCount(bool needsPermission) { return int(sequence(needsPermission).size()) - 1; }

QSize contentSize(OnboardingPage page)
{
    switch (page) {
    case OnboardingPage::tips:
        return {1020, 768};
    case OnboardingPage::layout:
        return {700, 640};
    default:
        return {500, 640};
    }
}

std::optional<int> backTarget(OnboardingPage page, bool needsPermission)
{
    if (page == OnboardingPage::welcome || page == OnboardingPage::finish)
        return std::nullopt;
    return indexOf(page, needsPermission) - 1;
}

std::optional<int> nextTarget(OnboardingPage page, bool needsPermission)
{
    if (page == OnboardingPage::finish)
        return std::nullopt;
    return indexOf(page, needsPermission) + 1;
}

int savedIndex(const UserDefaults& defaults, bool needsPermission)
{
    const int stored = int(std::clamp<qint64>(defaults.integer(pageKey), 0, 1000));
    if (!defaults.hasStoredValue(pageWithPermissionKey))
        return stored;
    const bool savedWithPermission = defaults.boolean(pageWithPermissionKey);
    if (savedWithPermission == needsPermission)
        return stored;
    return indexOf(pageAt(stored, savedWithPermission), needsPermission);
}

void saveIndex(UserDefaults& defaults, int index, bool needsPermission)
{
    defaults.set(pageKey, index);
    defaults.set(pageWithPermissionKey, needsPermission);
}

void forgetSavedIndex(UserDefaults& defaults)
{
    defaults.remove(pageKey);
    defaults.remove(pageWithPermissionKey);
}

} // namespace OnboardingFlow

namespace OnboardingTexts {

QList<SwitchSpec> captureRows()
{
    // The General page's switches, in their order; two explain more here.
    QList<SwitchSpec> rows = GeneralTables::captureTypes();
    for (SwitchSpec& row : rows) {
        if (row.setting == Setting::captureScreenshots)
            row.description = QStringLiteral("Screenshots captured to the clipboard with this desktop's screenshot "
                                             "tools (for example Ctrl+Print Screen).");
        else if (row.setting == Setting::captureColors)
            row.description = QStringLiteral("Copied text that is a single color value, such as #RRGGBB, rgb(), or hsl().");
    }
    return rows;
}

} // namespace OnboardingTexts

void TipsProgress::show(int index)
{
    m_index = std::clamp(index, 0, tipCount - 1);
    m_viewed.insert(m_index);
}

double TipsProgress::progress() const { return std::min(double(viewedCount()) / tipCount, 1.0); }

QString TipsProgress::label() const
{
    if (isComplete())
        return QStringLiteral("Continue");
    return QStringLiteral("%1%").arg(std::min(viewedCount(), tipCount) * 100 / tipCount);
}

} // namespace lumra

#pragma once

#include "ui/settings/SettingsTables.h"

#include <QSet>
#include <QSize>
#include <QString>

#include <optional>

namespace lumra {

class UserDefaults;

// The pages of the first-run walkthrough, in order. The permission page is part of the walkthrough
// only while Lumra cannot send keys into other applications.
enum class OnboardingPage { welcome, getSetUp, whatToCapture, privacy, permission, layout, tips, finish };

// Which page an index names, where each button leads, and how large each page is; no window needed.
namespace OnboardingFlow {

inline const QString pageKey = QStringLiteral("onboardingPage");
// Whether the saved index counted the permission page, so a resumed walkthrough finds the same
// page when the permission page has come or gone since.
inline const QString pageWithPermissionKey = QStringLiteral("onboardingPageWithPermission");

QList<OnboardingPage> sequence(bool needsPermission);
// A negative index is the welcome page; one past the end is the closing page.
OnboardingPage pageAt(int index, bool needsPermission);
// Without the permission page, its index is the page that follows it.
int indexOf(OnboardingPage page, bool needsPermission);
// One dot for each page but the closing one.
int dotCount(bool needsPermission);
QSize contentSize(OnboardingPage page);

// Where "Back" and the page's forward button lead; none where the page has no such button.
std::optional<int> backTarget(OnboardingPage page, bool needsPermission);
std::optional<int> nextTarget(OnboardingPage page, bool needsPermission);

// The page a walkthrough opens at, from what was saved.
int savedIndex(const UserDefaults& defaults, bool needsPermission);
void saveIndex(UserDefaults& defaults, int index, bool needsPermission);
void forgetSavedIndex(UserDefaults& defaults);

} // namespace OnboardingFlow

namespace OnboardingTexts {
// The nine switches of "What to Capture", in the page's order.
QList<SwitchSpec> captureRows();
} // namespace OnboardingTexts

// The tips carousel: which tip shows and which ones were seen. Going on needs all ten.
class TipsProgress {
public:
    static constexpr int tipCount = 10;

    int index() const { return m_index; }
    // Shows tip `index` (bounded to the ten) and counts it as seen.
    void show(int index);
    void markCurrentViewed() { m_viewed.insert(m_index); }
    bool canGoBack() const { return m_index > 0; }
    bool canGoForward() const { return m_index < tipCount - 1; }
    void back() { show(m_index - 1); }
    void forward() { show(m_index + 1); }

    bool wasViewed(int index) const { return m_viewed.contains(index); }
    int viewedCount() const { return int(m_viewed.size()); }
    bool isComplete() const { return viewedCount() >= tipCount; }
    double progress() const;
    // "30%" while tips are left, "Continue" once all were seen.
    QString label() const;

private:
    int m_index = 0;
    QSet<int> m_viewed;
};

} // namespace lumra

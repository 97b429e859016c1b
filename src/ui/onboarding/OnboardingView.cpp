#include "ui/onboarding/OnboardingView.h"

#include "ui/shell/HotKeyManager.h"
#include "ui/shell/PopupPlacement.h"
#include "ui/shell/Prompt.h"
#include "engine/ClipboardManager.h"
#include "platform/core/Clock.h"
#include "platform/keys/KeyInjector.h"
#include "platform/login/LoginItem.h"
#include "ui/onboarding/OnboardingStyle.h"
#include "ui/settings/SettingsWidgets.h"
#include "ui/onboarding/TipsPage.h"
#include "ui/settings/GlobalShortcutLine.h"

#include <QCursor>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QPainter>
#include <QPushButton>
#include <QScreen>
#include <QStackedWidget>
#include <QVBoxLayout>
#include <QVariantAnimation>

namespace lumra {

namespace {

constexpr std::chrono::milliseconds recentreDelay {50};
constexpr int transitionMs = 280;

} // namespace

// One dot per page but the closing one; the page shown is filled with the accent colour.
class PageDots : public QWidget {
public:
    PageDots(int count, QWidget* parent = nullptr)
        : QWidget(parent)
        , m_count(count)
    {
        setFixedHeight(7 + 20);
        setAccessibleName(QStringLiteral("Progress"));
    }
    void setCurrent(int current)
    {
        m_current = current;
        update();
    }
    QSize sizeHint() const override { return {m_count * 7 + (m_count - 1) * 8, 27}; }

protected:
    void paintEvent(QPaintEvent*) override
    {
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.setPen(Qt::NoPen);
        const qreal width = m_count * 7 + (m_count - 1) * 8;
        qreal x = (this->width() - width) / 2;
        for (int i = 0; i < m_count; ++i, x += 15) {
            painter.setBrush(i == m_current ? palette().color(QPalette::Highlight)
                                            : SettingsStyle::withAlpha(OnboardingStyle::secondary(palette()), 0.3));
            painter.drawEllipse(QRectF(x, 0, 7, 7));
        }
    }

private:
    int m_count;
    int m_current = 0;
};

// Over the page area while pages change: the old page leaves towards the left, fading, as the
// new one comes in from the right.
class PageTransition : public QWidget {
public:
    explicit PageTransition(QWidget* parent)
        : QWidget(parent)
    {
        setAttribute(Qt::WA_TransparentForMouseEvents);
        hide();
        m_animation.setDuration(transitionMs);
        m_animation.setEasingCurve(QEasingCurve::InOutQuad);
        m_animation.setStartValue(0.0);
        m_animation.setEndValue(1.0);
        connect(&m_animation, &QVariantAnimation::valueChanged, this, [this] { update(); });
        connect(&m_animation, &QVariantAnimation::finished, this, &QWidget::hide);
    }
    void run(const QPixmap& from, QWidget* to)
    {
        m_from = from;
        m_to = to->grab();
        setGeometry(parentWidget()->rect());
        raise();
        show();
        m_animation.stop();
        m_animation.start();
    }

protected:
    void paintEvent(QPaintEvent*) override
    {
        QPainter painter(this);
        painter.fillRect(rect(), palette().color(QPalette::Window));
        const qreal t = m_animation.currentValue().toReal();
        const qreal shift = 40;
        painter.setOpacity(1 - t);
        painter.drawPixmap(QPointF(-shift * t, 0), m_from);
        painter.setOpacity(t);
        painter.drawPixmap(QPointF(shift * (1 - t), 0), m_to);
    }

private:
    QVariantAnimation m_animation;
    QPixmap m_from;
    QPixmap m_to;
};

OnboardingView::OnboardingView(ClipboardManager& manager, HotKeyManager& hotKeys, OnboardingServices services,
                               std::function<void()> onFinish, QWidget* parent)
    : QWidget(parent, Qt::Window)
    , m_manager(manager)
    , m_hotKeys(hotKeys)
    , m_services(std::move(services))
    , m_onFinish(std::move(onFinish))
    , m_needsPermission(!m_services.keyInjector || !m_services.keyInjector->canPost())
{
    if (!m_services.prompts)
        m_services.prompts = &PromptService::shared();
    if (!m_services.clock)
        m_services.clock = &Clock::shared();
    if (!m_services.loginItem) {
        m_ownLoginItem = std::make_unique<AutostartLoginItem>();
        m_services.loginItem = m_ownLoginItem.get();
    }
    setWindowTitle(QStringLiteral("Welcome to Lumra"));
    setObjectName(QStringLiteral("onboarding"));
    setAutoFillBackground(true);

    m_stack = new QStackedWidget;
    m_dots = new PageDots(OnboardingFlow::dotCount(m_needsPermission));
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(m_stack, 1);
    layout->addWidget(m_dots);
    m_transition = new PageTransition(m_stack);

    m_page = OnboardingFlow::savedIndex(m_manager.userDefaults(), m_needsPermission);
    showCurrentPage(false);
}

OnboardingView::~OnboardingView() { stopShortcutRecording(); }

QSize OnboardingView::contentSize() const
{
    QSize size = OnboardingFlow::contentSize(currentPage());
    const QScreen* screen = isVisible() && this->screen() ? this->screen() : QGuiApplication::screenAt(QCursor::pos());
    if (!screen)
        screen = QGuiApplication::primaryScreen();
    if (screen) {
        // Room for the window manager's frame; the pages scroll or scale into what is left.
        const QSize available = screen->availableGeometry().size() - QSize(16, 48);
        size = size.boundedTo(available.expandedTo(QSize(400, 400)));
    }
    return size;
}

void OnboardingView::present()
{
    applySize();
    move(PopupPlacement::centredOnPointerScreen(size(), QCursor::pos(), PopupPlacement::currentScreens()));
    show();
    raise();
    activateWindow();
}

void OnboardingView::setPage(int index)
{
    index = std::max(0, index);
    if (index == m_page)
        return;
    OnboardingFlow::saveIndex(m_manager.userDefaults(), index, m_needsPermission);
    // A recording belongs to its page: leaving the page ends it and gives the hot keys back.
    stopShortcutRecording();
    m_page = index;
    showCurrentPage(m_services.animated && isVisible());
    m_services.clock->after(recentreDelay, this, [this] { recentre(); });
    emit pageChanged(index);
}

QWidget* OnboardingView::pageWidget(OnboardingPage page)
{
    if (QWidget* built = m_pages.value(page))
        return built;
    QWidget* widget = buildPage(page);
    widget->setObjectName(QStringLiteral("page%1").arg(int(page)));
    m_pages.insert(page, widget);
    m_stack->addWidget(widget);
    return widget;
}

QWidget* OnboardingView::buildPage(OnboardingPage page)
{
    switch (page) {
    case OnboardingPage::welcome:
        return welcomePage();
    case OnboardingPage::getSetUp:
        return getSetUpPage();
    case OnboardingPage::whatToCapture:
        return whatToCapturePage();
    case OnboardingPage::privacy:
        return privacyPage();
    case OnboardingPage::permission:
        return permissionPage();
    case OnboardingPage::layout:
        return layoutChoicePage();
    case OnboardingPage::tips:
        return tipsPageWidget();
    case OnboardingPage::finish:
        return finishPage();
    }
    return new QWidget;
}

void OnboardingView::showCurrentPage(bool animate)
{
    const OnboardingPage page = currentPage();
    QPixmap before;
    if (animate && m_stack->currentWidget())
        before = m_stack->currentWidget()->grab();
    QWidget* widget = pageWidget(page);
    if (page == OnboardingPage::layout)
        prepareLayoutPage();
    if (page == OnboardingPage::tips)
        m_tipsPage->markCurrentTipViewed();
    m_stack->setCurrentWidget(widget);
    const int dot = OnboardingFlow::indexOf(page, m_needsPermission);
    m_dots->setCurrent(page == OnboardingPage::finish ? -1 : dot);
    applySize();
    if (QAbstractButton* forward = forwardButton())
        forward->setFocus();
    if (animate && !before.isNull()) {
        widget->resize(m_stack->size());
        m_transition->run(before, widget);
    }
}

void OnboardingView::applySize()
{
    setFixedSize(contentSize());
    if (QLayout* l = layout())
        l->activate();
}

void OnboardingView::recentre()
{
    if (!isVisible())
        return;
    const QRect frame = frameGeometry();
    const QPoint centred = PopupPlacement::centredOnPointerScreen(frame.size(), frame.center(), PopupPlacement::currentScreens());
    move(centred + (pos() - frame.topLeft()));
}

QAbstractButton* OnboardingView::forwardButton() const { return m_forward.value(currentPage()); }

void OnboardingView::stopShortcutRecording()
{
    if (m_shortcutLine)
        m_shortcutLine->stopRecording();
}

void OnboardingView::keyPressEvent(QKeyEvent* event)
{
    // Return moves on from any control that leaves it unused (switches, pickers, the page itself).
    if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
        // Until every tip was seen, Return shows the next one.
        if (currentPage() == OnboardingPage::tips && !m_tipsPage->progress().isComplete()) {
            m_tipsPage->showNextTip();
            return;
        }
        if (QAbstractButton* forward = forwardButton(); forward && forward->isEnabled() && forward->isVisible()) {
            forward->click();
            return;
        }
    }
    QWidget::keyPressEvent(event);
}

void OnboardingView::hideEvent(QHideEvent* event)
{
    stopShortcutRecording();
    QWidget::hideEvent(event);
}

void OnboardingView::closeEvent(QCloseEvent* event)
{
    stopShortcutRecording();
    QWidget::closeEvent(event);
    emit closed();
}

void OnboardingView::changeEvent(QEvent* event)
{
    if (event->type() == QEvent::ScreenChangeInternal)
        applySize();
    QWidget::changeEvent(event);
}

QPushButton* OnboardingView::goButton(QPushButton* button, int target)
{
    connect(button, &QPushButton::clicked, this, [this, target] { setPage(target); });
    return button;
}

QWidget* OnboardingView::navigationFooter(OnboardingPage page)
{
    auto* forward = new PrimaryButton(QStringLiteral("Continue"), 100);
    forward->setObjectName(QStringLiteral("continue"));
    m_forward.insert(page, goButton(forward, *OnboardingFlow::nextTarget(page, m_needsPermission)));
    QPushButton* back = goButton(OnboardingStyle::backButton(), *OnboardingFlow::backTarget(page, m_needsPermission));
    back->setObjectName(QStringLiteral("back"));
    return OnboardingStyle::footer(back, forward);
}

QWidget* OnboardingView::tipsPageWidget()
{
    const auto back = OnboardingFlow::backTarget(OnboardingPage::tips, m_needsPermission);
    const auto next = OnboardingFlow::nextTarget(OnboardingPage::tips, m_needsPermission);
    m_tipsPage = new TipsPage(*back, *next);
    connect(m_tipsPage, &TipsPage::pageRequested, this, &OnboardingView::setPage);
    // The first tip names the shortcut as it is now, also one recorded a page earlier.
    const auto followShortcut = [this] {
        m_tipsPage->setOpenShortcut(m_hotKeys.isEnabled() ? m_hotKeys.shortcutDisplayString() : QString());
    };
    connect(&m_hotKeys, &HotKeyManager::shortcutRevisionChanged, m_tipsPage, followShortcut);
    connect(&m_hotKeys, &HotKeyManager::enabledChanged, m_tipsPage, followShortcut);
    followShortcut();
    m_forward.insert(OnboardingPage::tips, m_tipsPage->continueButton());
    return m_tipsPage;
}

} // namespace lumra

#pragma once

#include "ui/preview/PreviewContent.h"

#include <QPointer>
#include <QWidget>

#include <atomic>
#include <functional>
#include <memory>
#include <optional>

class QCheckBox;
class QLabel;
class QPushButton;
class QStackedLayout;
class QVBoxLayout;

namespace lumra {

class PlainTextView;
class UserDefaults;

// The preview window: a header with the close button, the title and (for text) the formatting
// switch; the content in one of our preview layers; the item's comment; a footer with the path,
// the size and "Show in File Manager". Escape closes it. Frameless, movable by its header and
// footer, resizable from its corner.
class UnifiedPreviewWindow : public QWidget {
    Q_OBJECT
public:
    static inline const QString showOriginalStyleKey = QStringLiteral("previewShowOriginalStyle");

    UnifiedPreviewWindow(PreviewBridge bridge, std::optional<QString> comment, UserDefaults& defaults,
                         QWidget* parent = nullptr);
    ~UnifiedPreviewWindow() override;

    const PreviewBridge& bridge() const { return m_bridge; }
    QWidget* contentWidget() const { return m_content; }
    QCheckBox* originalStyleToggle() const { return m_originalStyle; }
    QPushButton* revealButton() const { return m_reveal; }
    QLabel* sizeLabel() const { return m_size; }
    // True once everything the workers read has arrived (tests and benchmarks wait for it).
    bool isLoaded() const { return m_pendingLoads == 0; }

signals:
    void closeRequested();
    void loaded();

protected:
    void keyPressEvent(QKeyEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;
    void paintEvent(QPaintEvent* event) override;

private:
    QWidget* makeHeader();
    QWidget* makeFooter();
    QWidget* makeCommentRow(const QString& comment);
    void rebuildContent();
    QWidget* makeContent();
    QWidget* makeTextContent();
    // The text `readText` gives, built into the view's document by a worker.
    void buildOffThread(PlainTextView* view, std::function<QString()> readText);
    // The content swapped for `content` once what it waited for came.
    void replaceContent(QWidget* content);
    template <typename Result, typename Work, typename Apply>
    void runOffThread(Work work, Apply apply);
    void finishedLoad();

    PreviewBridge m_bridge;
    UserDefaults& m_defaults;
    QVBoxLayout* m_contentHost = nullptr;
    QWidget* m_content = nullptr;
    QCheckBox* m_originalStyle = nullptr;
    QLabel* m_path = nullptr;
    QLabel* m_size = nullptr;
    QPushButton* m_reveal = nullptr;
    int m_pendingLoads = 0;
    // Set when the content's workers' results are no longer wanted: the window closed or the style
    // switched. Long work looks at it as it goes.
    std::shared_ptr<std::atomic_bool> m_cancelled = std::make_shared<std::atomic_bool>(false);
    QPoint m_dragOffset;
    bool m_moving = false;
};

} // namespace lumra

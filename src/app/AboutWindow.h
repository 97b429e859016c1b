#pragma once

#include <QWidget>

namespace lumra {

// The About window: icon, name, version and the privacy and terms links. Floats above normal
// windows; closing it only hides it, so the owner shows the same window again.
class AboutWindow : public QWidget {
    Q_OBJECT
public:
    explicit AboutWindow(QWidget* parent = nullptr);

    void present();

    // "Lumra" unless the application carries another display name.
    static QString appDisplayName(const QString& displayName);
    // "Version 2.4.1 (318)"; missing parts read "1.0" and "1".
    static QString appVersionString(const QString& version, const QString& build);
};

} // namespace lumra

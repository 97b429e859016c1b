#pragma once

#include "platform/core/Result.h"

#include <QString>

#include <optional>

namespace lumra {

// Starting Lumra when the user logs in.
class LoginItem {
public:
    virtual ~LoginItem() = default;
    // True only when the entry exists and is not switched off by the desktop's own keys.
    virtual bool isEnabled() const = 0;
    virtual Status setEnabled(bool enabled) = 0;
};

// The XDG autostart entry `$XDG_CONFIG_HOME/autostart/lumra.desktop`.
class AutostartLoginItem final : public LoginItem {
public:
    explicit AutostartLoginItem(QString entryPath = defaultEntryPath(), QString executable = runningExecutable());

    static QString defaultEntryPath();
    // The AppImage when Lumra runs from one, else this process's binary.
    static QString runningExecutable();
    // The entry's text; nothing for a path no desktop entry can name.
    static std::optional<QString> entryText(const QString& executable);
    // `path` as one argument of an Exec line, quoted and escaped as the desktop entry format asks.
    static QString execArgument(const QString& path);

    bool isEnabled() const override;
    // On: writes the entry in one step (never a half-written file). Off: removes that one file (a
    // link is removed, not what it points at).
    Status setEnabled(bool enabled) override;

    QString entryPath() const { return m_entryPath; }

private:
    QString m_entryPath;
    QString m_executable;
};

// Test double.
class InMemoryLoginItem final : public LoginItem {
public:
    bool isEnabled() const override { return enabled; }
    Status setEnabled(bool value) override
    {
        ++calls;
        if (refuse)
            return Status::failure(QStringLiteral("The login item could not be changed."));
        enabled = value;
        return {};
    }

    bool enabled = false;
    bool refuse = false;
    int calls = 0;
};

} // namespace lumra

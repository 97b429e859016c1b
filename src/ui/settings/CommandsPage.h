#pragma once

#include <QList>
#include <QScrollArea>
#include <QString>

#include <optional>

namespace lumra {

// The slash-command reference: read-only, built from two constant lists.
class CommandsPage : public QScrollArea {
    Q_OBJECT
public:
    struct CommandInfo {
        QString command;
        QString description;
    };
    struct CommandGroup {
        QString title;
        std::optional<QString> subtitle;
        QList<CommandInfo> commands;
    };

    static QList<CommandGroup> groups();
    static QList<CommandInfo> examples();

    CommandsPage(const QList<CommandGroup>& groups, const QList<CommandInfo>& examples, QWidget* parent = nullptr);
};

} // namespace lumra

#pragma once

#include <QString>
#include <QTemporaryFile>

namespace lumra {

// A file written whole or not at all, like QSaveFile: open() makes a new file (0600) in the
// folder of `path`, which `commit()` syncs and renames onto `path`. Unlike QSaveFile it never
// writes through a symbolic link at `path`: the link itself is replaced, and whatever it points
// to (another user may have planted it) is left untouched.
class ReplacingFile final : public QTemporaryFile {
public:
    explicit ReplacingFile(const QString& path);
    ~ReplacingFile() override;

    bool commit();
    void cancelWriting();

private:
    QString m_path;
};

} // namespace lumra

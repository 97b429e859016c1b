#pragma once

#include <QString>

#include <optional>

namespace lumra {

// The user-facing diagnostics log ("diagnostics.log" in the support folder). Records are written
// only while diagnostics are enabled, appended on one serial worker thread, never contain clipboard
// content, and have their control characters escaped.
class Diagnostics {
public:
    enum class Level { debug, info, warn, error };

    static Diagnostics& shared();

    // Tests make their own logger on a path of their choosing; the app uses shared().
    explicit Diagnostics(QString logPath = {});
    ~Diagnostics();
    Diagnostics(const Diagnostics&) = delete;
    Diagnostics& operator=(const Diagnostics&) = delete;

    bool isEnabled() const;
    void setEnabled(bool enabled);

    // "[2025-03-01T09:15:42.318Z] [WARN] [Capture] message", queued for append.
    void log(Level level, const QString& category, const QString& message);
    void debug(const QString& category, const QString& message) { log(Level::debug, category, message); }
    void info(const QString& category, const QString& message) { log(Level::info, category, message); }
    void warn(const QString& category, const QString& message) { log(Level::warn, category, message); }
    void error(const QString& category, const QString& message) { log(Level::error, category, message); }

    void logDiagnosticInfo(int itemCount, bool cloudSyncEnabled);

    // Copies that never reached the history (replaced before they were read, refused, not
    // answered), counted whether or not the log is on; capture's log lines tell the total.
    void countLostCopies(qint64 count);
    qint64 lostCopies() const;

    // Synchronous on the log's worker: empty the file / read all of it.
    void writeDiagnosticsLog();
    std::optional<QString> readDiagnosticsLog();
    // Waits until every queued record is written (tests, quit).
    void flush();

    QString logPath() const;
    static QString appVersionText();
    static QString osVersionText();
    static QString hardwareModel();

private:
    struct Private;
    Private* d;
};

} // namespace lumra

#pragma once

#include "platform/core/Clock.h"
#include "platform/core/Result.h"

#include <QByteArray>
#include <QDateTime>
#include <QJsonValue>
#include <QMutex>
#include <QObject>
#include <QString>
#include <QVariant>
#include <QVariantList>
#include <QVariantMap>

#include <memory>
#include <optional>

namespace lumra {

// Lumra's settings store: one JSON object in a file, a person can read and fix it by hand.
// Values keep their type: bool, integer (qlonglong), double, string, date ({"$date": seconds since
// 1 January 2001}), bytes ({"$data": "Base64"}), lists and maps of those. A double with no fraction
// is written as a JSON integer and reads back as one; every numeric read accepts both.
// Reads answer from the stored values, then from the registration domain.
// Changes are written atomically shortly after they happen, and at quit and destruction.
class UserDefaults : public QObject {
    Q_OBJECT
public:
    // `clock` null means Clock::shared() at the time of use.
    explicit UserDefaults(QString filePath, Clock* clock = nullptr, QObject* parent = nullptr);
    ~UserDefaults() override;

    // A settings file holds a few kilobytes; a larger one is no file Lumra wrote and is not parsed
    // (it is read on the main thread at start).
    static constexpr qint64 maxFileBytes = 1024 * 1024;

    // $XDG_CONFIG_HOME/Lumra/settings.json, made on first use and kept for the process.
    static UserDefaults& standard();
    static QString standardFilePath();

    QString filePath() const { return m_filePath; }

    // Registration domain: consulted after stored values, never written to the file.
    void registerDefaults(const QVariantMap& defaults);
    QVariant registeredValue(const QString& key) const;

    // The stored value, else the registered one; invalid when neither exists.
    QVariant object(const QString& key) const;
    bool hasStoredValue(const QString& key) const;

    // Platform-style reads: never fail, answer 0 / 0.0 / false when the value cannot be read.
    // Numeric strings are read as numbers ("42" -> 42), booleans as 0/1.
    qint64 integer(const QString& key) const;
    double doubleValue(const QString& key) const;
    bool boolean(const QString& key) const { return booleanFrom(object(key)); }
    // Optional reads: nullopt when absent or of another kind.
    std::optional<qint64> readableInteger(const QString& key) const { return readableIntegerFrom(object(key)); }
    std::optional<QString> string(const QString& key) const { return stringFrom(object(key)); } // also numbers as text
    std::optional<QByteArray> data(const QString& key) const;
    std::optional<QDateTime> date(const QString& key) const;
    std::optional<QVariantList> array(const QString& key) const;
    std::optional<QVariantMap> dictionary(const QString& key) const;

    // A number that converts without loss: integers and integral doubles for an integer, any number
    // for a double (integers only within 2^53), for a bool a bool or the numbers 0 and 1. Strings never.
    std::optional<qint64> losslessInteger(const QString& key) const { return losslessIntegerFrom(object(key)); }
    std::optional<double> losslessDouble(const QString& key) const { return losslessDoubleFrom(object(key)); }
    std::optional<bool> losslessBool(const QString& key) const { return losslessBoolFrom(object(key)); }

    // The same reads on a value from elsewhere (the cloud store, a settings file).
    static std::optional<qint64> readableIntegerFrom(const QVariant& value);
    static bool booleanFrom(const QVariant& value);
    static std::optional<QString> stringFrom(const QVariant& value);
    static std::optional<qint64> losslessIntegerFrom(const QVariant& value);
    static std::optional<double> losslessDoubleFrom(const QVariant& value);
    static std::optional<bool> losslessBoolFrom(const QVariant& value);

    // Setting an invalid QVariant removes the key. Ints become qlonglong, floats double,
    // string lists lists of strings; values of other kinds are refused (false).
    bool set(const QString& key, const QVariant& value);
    void remove(const QString& key);
    // Removes every stored value; the registration domain stays.
    void clear();

    // Registered values overlaid with stored ones.
    QVariantMap dictionaryRepresentation() const;
    QVariantMap storedValues() const;

    // Writes now when something changed since the last write. Safe from any thread; concurrent
    // calls write one after another and the file always ends with the newest values.
    Status flush();
    bool hasUnsavedChanges() const;
    // From now on nothing is written, not even at exit: the file is about to be deleted.
    void stopWriting();

    // How long after a change the write happens; changes within it share one write.
    static constexpr std::chrono::milliseconds flushDelay { 200 };

signals:
    // A stored value changed (set, remove, clear); emitted on the thread that made the change.
    void changed(const QString& key);

private:
    Clock& clock() const { return m_clock ? *m_clock : Clock::shared(); }
    void load();
    void moveCorruptFileAside(const QString& reason);
    Status writeFile(const QVariantMap& values);
    void didChange(const QString& key);
    void scheduleFlush();
    template <typename T>
    std::optional<T> valueOfType(const QString& key) const;

    const QString m_filePath;
    Clock* const m_clock;

    mutable QMutex m_mutex; // guards the maps and counters below
    QVariantMap m_stored;
    QVariantMap m_registered;
    quint64 m_generation = 0; // bumped on every change
    quint64 m_writtenGeneration = 0; // newest generation on disk
    bool m_writeBlocked = false; // an unreadable file that could not be moved aside is never overwritten

    QMutex m_writeMutex; // one file write at a time
    std::unique_ptr<Timer> m_flushTimer; // owner thread only
};

namespace DefaultsJson {
// The file form of one value, and back. Unknown shapes decode as plain lists and maps.
QJsonValue encode(const QVariant& value);
QVariant decode(const QJsonValue& value);
} // namespace DefaultsJson

} // namespace lumra

#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <QVariantMap>

#include <functional>
#include <optional>

namespace lumra::settingsfile {

// The keys a settings file carries, in their fixed order; no other key is written or read.
const QStringList& keys();

// The file's bytes: every key that `read` answers (stored or registered value), bytes as Base64
// with "<key>__type": "data" beside them, keys sorted, pretty-printed. Dates and numbers that JSON
// cannot hold are left out.
QByteArray encode(const std::function<QVariant(const QString&)>& read);

// What a settings file asks to store, each value checked as the settings themselves check it.
struct Parsed {
    QVariantMap accepted; // key -> value in the settings' own stored form
    int refused = 0;      // keys of the file whose value was turned down
    QString error;        // set when the bytes are no settings file at all
};
// A settings file holds a few kilobytes; larger bytes are refused unparsed.
inline constexpr qint64 maxFileBytes = 1024 * 1024;
// Needs no store, window or settings object (safe on any thread).
Parsed parse(const QByteArray& bytes);

} // namespace lumra::settingsfile

#include "platform/defaults/UserDefaults.h"

#include "model/Diagnostics.h"
#include "platform/core/Folders.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLoggingCategory>
#include <QSaveFile>
#include <QThread>

#include <cmath>
#include <limits>

Q_LOGGING_CATEGORY(lcDefaults, "lumra.defaults")

namespace lumra {

namespace {

const QString dateKey = QStringLiteral("$date");
const QString dataKey = QStringLiteral("$data");

const QDateTime& referenceDate()
{
    static const QDateTime date(QDate(2001, 1, 1), QTime(0, 0), Qt::UTC);
    return date;
}

bool isIntegerType(int typeId)
{
    switch (typeId) {
    case QMetaType::Int:
    case QMetaType::UInt:
    case QMetaType::LongLong:
    case QMetaType::Short:
    case QMetaType::UShort:
    case QMetaType::Long:
    case QMetaType::ULong:
    case QMetaType::Char:
    case QMetaType::SChar:
    case QMetaType::UChar:
        return true;
    default:
        return false;
    }
}

bool isNumber(const QVariant& v)
{
    const int t = v.typeId();
    return isIntegerType(t) || t == QMetaType::ULongLong || t == QMetaType::Double || t == QMetaType::Float;
}

// 2^63 as a double; doubles in [-2^63, 2^63) convert to qint64 exactly when integral.
constexpr double twoTo63 = 9223372036854775808.0;

std::optional<qint64> truncatedInteger(double d)
{
    if (!std::isfinite(d) || d >= twoTo63 || d < -twoTo63)
        return std::nullopt;
    return qint64(d);
}

// The value in the form the store keeps, or invalid when it has no stored form.
QVariant normalized(const QVariant& v)
{
    const int t = v.typeId();
    if (t == QMetaType::Bool || t == QMetaType::QString || t == QMetaType::QByteArray)
        return v;
    if (isIntegerType(t))
        return QVariant(v.toLongLong());
    if (t == QMetaType::ULongLong) {
        const qulonglong u = v.toULongLong();
        return u <= qulonglong(std::numeric_limits<qint64>::max()) ? QVariant(qint64(u)) : QVariant();
    }
    if (t == QMetaType::Double || t == QMetaType::Float) {
        const double d = v.toDouble();
        return std::isfinite(d) ? QVariant(d) : QVariant(); // JSON has no NaN or infinity
    }
    if (t == QMetaType::QDateTime)
        return v.toDateTime().isValid() ? v : QVariant();
    if (t == QMetaType::QStringList || t == QMetaType::QVariantList) {
        QVariantList out;
        for (const QVariant& element : v.toList()) {
            QVariant n = normalized(element);
            if (!n.isValid())
                return {};
            out.append(n);
        }
        return out;
    }
    if (t == QMetaType::QVariantMap || t == QMetaType::QVariantHash) {
        QVariantMap out;
        const QVariantMap in = v.toMap();
        for (auto it = in.begin(); it != in.end(); ++it) {
            QVariant n = normalized(it.value());
            if (!n.isValid())
                return {};
            out.insert(it.key(), n);
        }
        return out;
    }
    return {};
}

bool sameValue(const QVariant& a, const QVariant& b) { return a.typeId() == b.typeId() && a == b; }

} // namespace

namespace DefaultsJson {

QJsonValue encode(const QVariant& value)
{
    switch (value.typeId()) {
    case QMetaType::Bool: return value.toBool();
    case QMetaType::LongLong: return value.toLongLong();
    case QMetaType::Double: return value.toDouble();
    case QMetaType::QString: return value.toString();
    case QMetaType::QByteArray: return QJsonObject { { dataKey, QString::fromLatin1(value.toByteArray().toBase64()) } };
    case QMetaType::QDateTime:
        return QJsonObject { { dateKey, referenceDate().msecsTo(value.toDateTime()) / 1000.0 } };
    case QMetaType::QVariantList: {
        QJsonArray array;
        for (const QVariant& element : value.toList())
            array.append(encode(element));
        return array;
    }
    case QMetaType::QVariantMap: {
        QJsonObject object;
        const QVariantMap map = value.toMap();
        for (auto it = map.begin(); it != map.end(); ++it)
            object.insert(it.key(), encode(it.value()));
        return object;
    }
    default: return QJsonValue();
    }
}

QVariant decode(const QJsonValue& value)
{
    switch (value.type()) {
    case QJsonValue::Bool: return value.toBool();
    case QJsonValue::Double: return normalized(value.toVariant()); // qlonglong when written without fraction
    case QJsonValue::String: return value.toString();
    case QJsonValue::Array: {
        QVariantList list;
        for (const QJsonValue& element : value.toArray()) {
            const QVariant decoded = decode(element);
            if (decoded.isValid())
                list.append(decoded);
        }
        return list;
    }
    case QJsonValue::Object: {
        const QJsonObject object = value.toObject();
        if (object.size() == 1 && object.contains(dateKey) && object.value(dateKey).isDouble()) {
            const double seconds = object.value(dateKey).toDouble();
            if (std::isfinite(seconds) && std::abs(seconds) < 1e14)
                return referenceDate().addMSecs(qint64(std::llround(seconds * 1000.0)));
        }
        if (object.size() == 1 && object.contains(dataKey) && object.value(dataKey).isString()) {
            auto bytes = QByteArray::fromBase64Encoding(object.value(dataKey).toString().toLatin1(),
                                                        QByteArray::AbortOnBase64DecodingErrors);
            if (bytes)
                return *bytes;
        }
        QVariantMap map;
        for (auto it = object.begin(); it != object.end(); ++it) {
            const QVariant decoded = decode(it.value());
            if (decoded.isValid())
                map.insert(it.key(), decoded);
        }
        return map;
    }
    default: return {};
    }
}

} // namespace DefaultsJson

UserDefaults::UserDefaults(QString filePath, Clock* clock, QObject* parent)
    : QObject(parent), m_filePath(std::move(filePath)), m_clock(clock)
{
    load();
    if (auto* app = QCoreApplication::instance())
        connect(app, &QCoreApplication::aboutToQuit, this, [this] {
            // The last chance to keep what changed since the last write: a failure must be heard.
            if (const Status status = flush(); !status) {
                qCWarning(lcDefaults) << "settings not written at quit:" << status.error();
                Diagnostics::shared().error(QStringLiteral("Settings"), status.error());
            }
        });
}

UserDefaults::~UserDefaults()
{
    m_flushTimer.reset();
    const Status status = flush();
    if (!status)
        qCWarning(lcDefaults) << "settings not written at exit:" << status.error();
}

QString UserDefaults::standardFilePath() { return Folders::configFolder() + QStringLiteral("/settings.json"); }

UserDefaults& UserDefaults::standard()
{
    static UserDefaults* instance = new UserDefaults(standardFilePath()); // lives for the process
    return *instance;
}

void UserDefaults::load()
{
    QFile file(m_filePath);
    if (!file.exists())
        return;
    if (!file.open(QIODevice::ReadOnly)) {
        moveCorruptFileAside(QStringLiteral("it could not be opened (%1)").arg(file.errorString()));
        return;
    }
    if (file.size() > maxFileBytes) {
        moveCorruptFileAside(QStringLiteral("it holds %1 bytes, more than a settings file can (%2)").arg(file.size()).arg(maxFileBytes));
        return;
    }
    QJsonParseError error {};
    const QJsonDocument document = QJsonDocument::fromJson(file.read(maxFileBytes), &error);
    file.close();
    if (error.error != QJsonParseError::NoError) {
        moveCorruptFileAside(QStringLiteral("it is not valid JSON (%1 at offset %2)").arg(error.errorString()).arg(error.offset));
        return;
    }
    if (!document.isObject()) {
        moveCorruptFileAside(QStringLiteral("it does not hold a JSON object"));
        return;
    }
    const QJsonObject root = document.object();
    for (auto it = root.begin(); it != root.end(); ++it) {
        const QVariant value = DefaultsJson::decode(it.value());
        if (value.isValid())
            m_stored.insert(it.key(), value);
    }
}

void UserDefaults::moveCorruptFileAside(const QString& reason)
{
    const QString stamp = clock().now().toUTC().toString(QStringLiteral("yyyyMMdd-HHmmss"));
    QString target = m_filePath + QStringLiteral(".corrupt-") + stamp;
    for (int n = 2; QFileInfo::exists(target); ++n)
        target = m_filePath + QStringLiteral(".corrupt-") + stamp + QLatin1Char('-') + QString::number(n);
    const QString name = QFileInfo(m_filePath).fileName();
    if (QFile::rename(m_filePath, target)) {
        Diagnostics::shared().warn(QStringLiteral("Settings"),
                                   QStringLiteral("%1 could not be read: %2. It was kept as %3; default settings are used.")
                                       .arg(name, reason, QFileInfo(target).fileName()));
        return;
    }
    m_writeBlocked = true;
    Diagnostics::shared().error(QStringLiteral("Settings"),
                                QStringLiteral("%1 could not be read: %2, and could not be moved aside. "
                                               "Settings changes are not saved until it is fixed or removed.")
                                    .arg(name, reason));
}

void UserDefaults::registerDefaults(const QVariantMap& defaults)
{
    QMutexLocker lock(&m_mutex);
    for (auto it = defaults.begin(); it != defaults.end(); ++it) {
        const QVariant value = normalized(it.value());
        if (value.isValid())
            m_registered.insert(it.key(), value);
        else
            qCWarning(lcDefaults) << "default for" << it.key() << "has no stored form; ignored";
    }
}

QVariant UserDefaults::registeredValue(const QString& key) const
{
    QMutexLocker lock(&m_mutex);
    return m_registered.value(key);
}

QVariant UserDefaults::object(const QString& key) const
{
    QMutexLocker lock(&m_mutex);
    auto it = m_stored.constFind(key);
    if (it != m_stored.constEnd())
        return *it;
    return m_registered.value(key);
}

bool UserDefaults::hasStoredValue(const QString& key) const
{
    QMutexLocker lock(&m_mutex);
    return m_stored.contains(key);
}

std::optional<qint64> UserDefaults::readableIntegerFrom(const QVariant& value)
{
    const QVariant v = normalized(value);
    switch (v.typeId()) {
    case QMetaType::Bool: return v.toBool() ? 1 : 0;
    case QMetaType::LongLong: return v.toLongLong();
    case QMetaType::Double: return truncatedInteger(v.toDouble());
    case QMetaType::QString: {
        const QString text = v.toString().trimmed();
        bool ok = false;
        const qint64 n = text.toLongLong(&ok);
        if (ok)
            return n;
        const double d = text.toDouble(&ok);
        return ok ? truncatedInteger(d) : std::nullopt;
    }
    default: return std::nullopt;
    }
}

qint64 UserDefaults::integer(const QString& key) const { return readableInteger(key).value_or(0); }

double UserDefaults::doubleValue(const QString& key) const
{
    const QVariant v = object(key);
    if (v.typeId() == QMetaType::Bool || isNumber(v))
        return v.toDouble();
    if (v.typeId() == QMetaType::QString) {
        bool ok = false;
        const double d = v.toString().trimmed().toDouble(&ok);
        return ok ? d : 0.0;
    }
    return 0.0;
}

bool UserDefaults::booleanFrom(const QVariant& value)
{
    const QVariant v = normalized(value);
    if (v.typeId() == QMetaType::Bool)
        return v.toBool();
    if (isNumber(v))
        return v.toDouble() != 0.0;
    if (v.typeId() == QMetaType::QString) {
        const QString text = v.toString().trimmed().toLower();
        if (text == QLatin1String("yes") || text == QLatin1String("true"))
            return true;
        return text.toLongLong() != 0;
    }
    return false;
}

std::optional<QString> UserDefaults::stringFrom(const QVariant& value)
{
    const QVariant v = normalized(value);
    if (v.typeId() == QMetaType::QString)
        return v.toString();
    if (v.typeId() == QMetaType::LongLong)
        return QString::number(v.toLongLong());
    if (v.typeId() == QMetaType::Double)
        return QString::number(v.toDouble(), 'g', QLocale::FloatingPointShortest);
    return std::nullopt;
}

template <typename T>
std::optional<T> UserDefaults::valueOfType(const QString& key) const
{
    const QVariant v = object(key);
    return v.typeId() == QMetaType::fromType<T>().id() ? std::optional(v.value<T>()) : std::nullopt;
}

std::optional<QByteArray> UserDefaults::data(const QString& key) const { return valueOfType<QByteArray>(key); }
std::optional<QDateTime> UserDefaults::date(const QString& key) const { return valueOfType<QDateTime>(key); }
std::optional<QVariantList> UserDefaults::array(const QString& key) const { return valueOfType<QVariantList>(key); }
std::optional<QVariantMap> UserDefaults::dictionary(const QString& key) const { return valueOfType<QVariantMap>(key); }

std::optional<qint64> UserDefaults::losslessIntegerFrom(const QVariant& value)
{
    const QVariant v = normalized(value);
    if (v.typeId() == QMetaType::LongLong)
        return v.toLongLong();
    if (v.typeId() == QMetaType::Double) {
        const double d = v.toDouble();
        if (std::trunc(d) == d)
            return truncatedInteger(d);
    }
    return std::nullopt;
}

std::optional<double> UserDefaults::losslessDoubleFrom(const QVariant& value)
{
    const QVariant v = normalized(value);
    if (v.typeId() == QMetaType::Double)
        return v.toDouble();
    if (v.typeId() == QMetaType::LongLong) {
        const qint64 n = v.toLongLong();
        constexpr qint64 exactLimit = qint64(1) << 53;
        if (n >= -exactLimit && n <= exactLimit)
            return double(n);
    }
    return std::nullopt;
}

std::optional<bool> UserDefaults::losslessBoolFrom(const QVariant& value)
{
    const QVariant v = normalized(value);
    if (v.typeId() == QMetaType::Bool)
        return v.toBool();
    if (v.typeId() == QMetaType::LongLong || v.typeId() == QMetaType::Double) {
        const double d = v.toDouble();
        if (d == 0.0 || d == 1.0)
            return d == 1.0;
    }
    return std::nullopt;
}

bool UserDefaults::set(const QString& key, const QVariant& value)
{
    if (!value.isValid()) {
        remove(key);
        return true;
    }
    const QVariant stored = normalized(value);
    if (!stored.isValid()) {
        qCWarning(lcDefaults) << "refused a value of type" << value.typeName() << "for" << key;
        return false;
    }
    {
        QMutexLocker lock(&m_mutex);
        auto it = m_stored.constFind(key);
        if (it != m_stored.constEnd() && sameValue(*it, stored))
            return true;
        m_stored.insert(key, stored);
        ++m_generation;
    }
    didChange(key);
    return true;
}

void UserDefaults::remove(const QString& key)
{
    {
        QMutexLocker lock(&m_mutex);
        if (m_stored.remove(key) == 0)
            return;
        ++m_generation;
    }
    didChange(key);
}

void UserDefaults::clear()
{
    QStringList keys;
    {
        QMutexLocker lock(&m_mutex);
        keys = m_stored.keys();
        if (keys.isEmpty())
            return;
        m_stored.clear();
        ++m_generation;
    }
    for (const QString& key : keys)
        didChange(key);
}

QVariantMap UserDefaults::dictionaryRepresentation() const
{
    QMutexLocker lock(&m_mutex);
    QVariantMap all = m_registered;
    all.insert(m_stored);
    return all;
}

QVariantMap UserDefaults::storedValues() const
{
    QMutexLocker lock(&m_mutex);
    return m_stored;
}

bool UserDefaults::hasUnsavedChanges() const
{
    QMutexLocker lock(&m_mutex);
    return m_generation != m_writtenGeneration;
}

void UserDefaults::didChange(const QString& key)
{
    scheduleFlush();
    emit changed(key);
}

void UserDefaults::scheduleFlush()
{
    if (QThread::currentThread() != thread()) {
        QMetaObject::invokeMethod(this, [this] { scheduleFlush(); }, Qt::QueuedConnection);
        return;
    }
    if (m_flushTimer && m_flushTimer->isActive())
        return;
    m_flushTimer = clock().start(flushDelay, false, [this] {
        const Status status = flush();
        if (!status)
            Diagnostics::shared().error(QStringLiteral("Settings"), status.error());
    });
}

void UserDefaults::stopWriting()
{
    m_flushTimer.reset();
    QMutexLocker writeLock(&m_writeMutex);
    QMutexLocker lock(&m_mutex);
    m_writeBlocked = true;
    m_writtenGeneration = m_generation;
}

Status UserDefaults::flush()
{
    QMutexLocker writeLock(&m_writeMutex);
    QVariantMap snapshot;
    quint64 generation = 0;
    {
        QMutexLocker lock(&m_mutex);
        if (m_generation == m_writtenGeneration)
            return {};
        if (m_writeBlocked)
            return Status::failure(QStringLiteral("Settings are not saved: %1 could not be read and is left as it is.")
                                       .arg(m_filePath));
        snapshot = m_stored;
        generation = m_generation;
    }
    if (Status status = writeFile(snapshot); !status)
        return status;
    QMutexLocker lock(&m_mutex);
    m_writtenGeneration = generation;
    return {};
}

Status UserDefaults::writeFile(const QVariantMap& values)
{
    const QString folder = QFileInfo(m_filePath).absolutePath();
    if (!QDir().mkpath(folder))
        return Status::failure(QStringLiteral("Could not create the settings folder %1").arg(folder));
    QJsonObject root;
    for (auto it = values.begin(); it != values.end(); ++it)
        root.insert(it.key(), DefaultsJson::encode(it.value()));

    QSaveFile file(m_filePath);
    if (!file.open(QIODevice::WriteOnly))
        return Status::failure(QStringLiteral("Could not write %1: %2").arg(m_filePath, file.errorString()));
    file.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner);
    const QByteArray bytes = QJsonDocument(root).toJson(QJsonDocument::Indented);
    if (file.write(bytes) != bytes.size() || !file.commit())
        return Status::failure(QStringLiteral("Could not write %1: %2").arg(m_filePath, file.errorString()));
    return {};
}

} // namespace lumra

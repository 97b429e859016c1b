#include "platform/pasteboard/FakePasteboard.h"

#include <QMetaObject>

namespace lumra {

class FakePasteboard::Reader final : public OfferReader {
public:
    Reader(const FakePasteboard& pasteboard)
        : m_shared(pasteboard.m_shared)
        , m_contents(pasteboard.m_contents)
        , m_unreadable(pasteboard.m_unreadable)
        , m_changeCount(pasteboard.m_changeCount)
        , m_ownerWindow(pasteboard.m_ownerWindow)
        , m_ownedByUs(pasteboard.m_ownedByUs)
        , m_unresponsive(pasteboard.m_unresponsive)
    {
    }
    qint64 changeCount() const override { return m_changeCount; }
    bool ownedByUs() const override { return m_ownedByUs; }
    quint64 ownerWindow() const override { return m_ownerWindow; }
    Result<QStringList> types(QDeadlineTimer) override
    {
        if (m_unresponsive)
            return Result<QStringList>::failure(QStringLiteral("The clipboard owner did not answer"));
        QStringList types;
        for (const auto& representation : m_contents)
            types.append(representation.mimeType);
        return boundedTypes(types);
    }
    OfferRead data(const QString& type, qint64 maxBytes, QDeadlineTimer) override
    {
        {
            QMutexLocker lock(&m_shared->mutex);
            m_shared->reads.append(type);
        }
        if (m_unresponsive || m_unreadable.contains(type))
            return OfferRead::failure(OfferRead::Outcome::timedOut, QStringLiteral("The clipboard owner did not answer"));
        for (const auto& representation : m_contents) {
            if (representation.mimeType != type)
                continue;
            if (representation.data.size() > maxBytes)
                return OfferRead::failure(OfferRead::Outcome::tooLarge, QStringLiteral("The clipboard data is too large"),
                                          representation.data.size());
            OfferRead read;
            read.bytes = representation.data;
            return read;
        }
        return OfferRead::failure(OfferRead::Outcome::refused, QStringLiteral("The clipboard holds no %1").arg(type));
    }
    // The offer was taken whole when the reader was made: no later copy can change it.
    bool readFromItsOwner() override { return true; }

private:
    std::shared_ptr<Shared> m_shared;
    QList<PasteboardRepresentation> m_contents;
    QStringList m_unreadable;
    qint64 m_changeCount;
    quint64 m_ownerWindow;
    bool m_ownedByUs;
    bool m_unresponsive;
};

std::shared_ptr<OfferReader> FakePasteboard::offerReader() { return std::make_shared<Reader>(*this); }

QStringList FakePasteboard::readsOf() const
{
    QMutexLocker lock(&m_shared->mutex);
    return m_shared->reads;
}

void FakePasteboard::setContents(const QList<PasteboardRepresentation>& representations, quint64 ownerWindow)
{
    replace(representations, false, ownerWindow);
    QMetaObject::invokeMethod(this, &Pasteboard::changed, Qt::QueuedConnection);
}

void FakePasteboard::setText(const QString& text, quint64 ownerWindow)
{
    setContents({{QString::fromLatin1(PasteboardMime::textUtf8), text.toUtf8()}}, ownerWindow);
}

void FakePasteboard::clear() { setContents({}); }

void FakePasteboard::replace(const QList<PasteboardRepresentation>& representations, bool ours, quint64 owner)
{
    m_contents = representations;
    m_ownedByUs = ours;
    m_ownerWindow = owner;
    m_shared->changeCount = ++m_changeCount;
}

Result<QStringList> FakePasteboard::types()
{
    if (m_unresponsive)
        return Result<QStringList>::failure(QStringLiteral("The clipboard owner did not answer"));
    QStringList types;
    for (const auto& representation : m_contents)
        types.append(representation.mimeType);
    return types;
}

Result<QByteArray> FakePasteboard::data(const QString& mimeType)
{
    {
        QMutexLocker lock(&m_shared->mutex);
        m_shared->reads.append(mimeType);
    }
    if (m_unresponsive || m_unreadable.contains(mimeType))
        return Result<QByteArray>::failure(QStringLiteral("The clipboard owner did not answer"));
    for (const auto& representation : m_contents) {
        if (representation.mimeType == mimeType)
            return representation.data;
    }
    return Result<QByteArray>::failure(QStringLiteral("The clipboard holds no %1").arg(mimeType));
}

Result<qint64> FakePasteboard::write(const QList<PasteboardRepresentation>& representations)
{
    if (!m_writeError.isEmpty())
        return Result<qint64>::failure(m_writeError);
    m_writes.append(representations);
    replace(representations, true, 0);
    return m_changeCount;
}

} // namespace lumra

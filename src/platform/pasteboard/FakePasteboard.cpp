#include "platform/pasteboard/FakePasteboard.h"

#include <QMetaObject>

namespace lumra {

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
    ++m_changeCount;
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
    m_reads.append(mimeType);
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

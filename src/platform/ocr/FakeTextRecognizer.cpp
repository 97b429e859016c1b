#include "platform/ocr/FakeTextRecognizer.h"

namespace lumra {

void FakeTextRecognizer::recognize(const QImage& image, const QUuid& id)
{
    ++m_requestCount;
    m_pending.append({ id, image, {} });
}

void FakeTextRecognizer::recognize(const QByteArray& imageData, const QUuid& id)
{
    ++m_requestCount;
    m_pending.append({ id, {}, imageData });
}

bool FakeTextRecognizer::take(const QUuid& id)
{
    for (qsizetype i = 0; i < m_pending.size(); ++i) {
        if (m_pending.at(i).id == id) {
            m_pending.removeAt(i);
            return true;
        }
    }
    return false;
}

void FakeTextRecognizer::finish(const QUuid& id, const QString& text)
{
    if (take(id))
        emit recognized(id, text);
}

void FakeTextRecognizer::fail(const QUuid& id)
{
    if (take(id))
        emit notRecognized(id);
}

void FakeTextRecognizer::finishAll(const QString& text)
{
    while (!m_pending.isEmpty()) {
        const QUuid id = m_pending.takeFirst().id;
        emit recognized(id, text);
    }
}

} // namespace lumra

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

void FakeTextRecognizer::finish(const QUuid& id, const QString& text)
{
    for (qsizetype i = 0; i < m_pending.size(); ++i) {
        if (m_pending.at(i).id == id) {
            m_pending.removeAt(i);
            emit recognized(id, text);
            return;
        }
    }
}

void FakeTextRecognizer::finishAll(const QString& text)
{
    while (!m_pending.isEmpty()) {
        const QUuid id = m_pending.takeFirst().id;
        emit recognized(id, text);
    }
}

} // namespace lumra

#pragma once

#include "platform/ocr/TextRecognizer.h"

#include <QList>

namespace lumra {

// Test double: remembers the requests and answers them only when told to.
class FakeTextRecognizer final : public TextRecognizer {
    Q_OBJECT
public:
    using TextRecognizer::TextRecognizer;

    void recognize(const QImage& image, const QUuid& id) override;
    void recognize(const QByteArray& imageData, const QUuid& id) override;

    struct Request {
        QUuid id;
        QImage image;
        QByteArray imageData;
    };
    const QList<Request>& pending() const { return m_pending; }
    int requestCount() const { return m_requestCount; }

    // Answers the request for `id` (if pending) with `text`.
    void finish(const QUuid& id, const QString& text);
    // Answers the request for `id` (if pending) as a read that did not run to its end.
    void fail(const QUuid& id);
    // Answers every pending request with `text`, oldest first.
    void finishAll(const QString& text);

private:
    bool take(const QUuid& id);

    QList<Request> m_pending;
    int m_requestCount = 0;
};

} // namespace lumra

#pragma once

#include <QByteArray>
#include <QImage>
#include <QObject>
#include <QString>
#include <QUuid>

namespace lumra {

// Finds the text in an image off the caller's thread. Every request is answered once, on the thread
// this object lives in: by recognized() with the recognised lines joined by "\n" (empty when nothing
// was found or the image could not be read), or by notRecognized() when the read did not run to its
// end (its program killed, crashed, past its budget or not started), which may be asked again later.
class TextRecognizer : public QObject {
    Q_OBJECT
public:
    using QObject::QObject;
    ~TextRecognizer() override = default;

    // Both return at once.
    virtual void recognize(const QImage& image, const QUuid& id) = 0;
    // Undecodable or oversize bytes are answered with an empty text.
    virtual void recognize(const QByteArray& imageData, const QUuid& id) = 0;

signals:
    void recognized(const QUuid& id, const QString& text);
    void notRecognized(const QUuid& id);
};

} // namespace lumra

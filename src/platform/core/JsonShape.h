#pragma once

#include "platform/core/Result.h"

#include <QByteArrayView>

namespace lumra {

// Counts the values of a JSON text and how deeply they nest, without building anything, so that
// a text shaped unlike what its reader expects is refused before Qt's parser builds an element
// for each of its values (a line of "[0,0,0,…" costs many times its size in elements). Not a
// validator: the parser that follows still checks the text.
Status checkJsonShape(QByteArrayView text, qint64 maxValues, int maxDepth);

} // namespace lumra

#pragma once

#include "platform/core/Result.h"

#include <QByteArrayView>

namespace lumra {

// Counts the values of a JSON text and how deeply they nest, without building anything, so that
// a text shaped unlike what its reader expects is refused before Qt's parser builds an element
// for each of its values (a line of "[0,0,0,…" costs many times its size in elements). Not a
// validator: the parser that follows still checks the text.
Status checkJsonShape(QByteArrayView text, qint64 maxValues, int maxDepth);
// The same, with strings (keys included) bounded apart from the other values: a list of short
// strings is dense but costs little more than its text, while each container or literal is an
// element of its own.
Status checkJsonShape(QByteArrayView text, qint64 maxValues, qint64 maxStrings, int maxDepth);

// Where the JSON value that starts at `from` (after any white space) ends: the index after its
// last byte, or -1 when the text ends first or brackets do not match. Strings and nesting only;
// what lies between is left to the parser that reads the value.
qsizetype jsonValueEnd(QByteArrayView text, qsizetype from);
// The index of the first byte at or after `from` that is not JSON white space.
qsizetype skipJsonSpace(QByteArrayView text, qsizetype from);

} // namespace lumra

#pragma once

#include "model/ClipboardItem.h"

#include <QList>
#include <QRandomGenerator>

#include <functional>

namespace lumra::bench {

// Text items as people copy them: `length(random)` characters of common words each, from a
// handful of applications, newest first. The same count and lengths give the same history.
QList<ClipboardItem> textHistory(int count, const std::function<int(QRandomGenerator&)>& length, qint64* utf8Bytes);

// About 100 characters.
int shortTextLength(QRandomGenerator& random);
// 3.4 KB on average, one in fifty up to 50 KB.
int longTextLength(QRandomGenerator& random);

} // namespace lumra::bench

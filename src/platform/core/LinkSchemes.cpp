#include "platform/core/LinkSchemes.h"

#include <QUrl>

namespace lumra {

bool isOpenableLinkScheme(const QString& scheme)
{
    for (const char* openable : {"http", "https", "ftp", "mailto"}) {
        if (scheme.compare(QLatin1String(openable), Qt::CaseInsensitive) == 0)
            return true;
    }
    return false;
}

std::optional<QString> keptLinkTarget(const QString& href)
{
    QString cleaned = href;
    cleaned.removeIf([](QChar c) { return c.unicode() < 0x20 || c.unicode() == 0x7f; });
    cleaned = cleaned.trimmed();
    const QUrl url(cleaned);
    if (!url.isValid())
        return std::nullopt;
    if (!url.scheme().isEmpty() && !isOpenableLinkScheme(url.scheme()))
        return std::nullopt;
    return cleaned;
}

} // namespace lumra

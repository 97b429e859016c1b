#include "engine/filter/LinkDetector.h"

#include "engine/filter/ItemClassification.h"

#include <QSet>

namespace lumra {

namespace {

bool isAsciiLetter(QChar c) { return (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z'); }
bool isAsciiDigit(QChar c) { return c >= u'0' && c <= u'9'; }

bool isScheme(QStringView s)
{
    if (s.isEmpty() || s.size() > 32 || !isAsciiLetter(s.front())) return false;
    for (QChar c : s) {
        if (!isAsciiLetter(c) && !isAsciiDigit(c) && c != u'+' && c != u'-' && c != u'.') return false;
    }
    return true;
}

bool isKnownGenericTld(const QString& tld)
{
    static const QSet<QString> generic{
        "com", "net", "org", "edu", "gov", "mil", "int", "info", "biz", "name", "pro", "mobi", "aero", "asia",
        "cat", "coop", "jobs", "museum", "travel", "tel", "app", "dev", "xyz", "online", "site", "tech",
        "store", "blog", "cloud", "page", "shop", "live", "news", "art", "design", "link", "club", "space",
        "top", "wiki", "fun", "icu", "vip", "work", "email", "digital", "agency", "social", "media", "today",
        "world", "one", "network", "systems", "software", "studio", "website", "zone", "academy", "center",
        "company", "group", "solutions", "services", "tools", "google", "amazon", "apple", "microsoft"};
    return generic.contains(tld);
}

// Two-letter country domains that are far more often the extension of a file name.
bool isFileExtensionLookalike(const QString& tld)
{
    static const QSet<QString> lookalikes{
        "md", "py", "rs", "sh", "pl", "so", "cc", "mk", "am", "ac", "in", "ps", "ml", "pm", "cu", "gs", "tf", "sv"};
    return lookalikes.contains(tld);
}

bool isHostLabel(QStringView label)
{
    if (label.isEmpty() || label.size() > 63 || label.front() == u'-' || label.back() == u'-') return false;
    for (QChar c : label) {
        if (!c.isLetterOrNumber() && c != u'-') return false;
    }
    return true;
}

bool closesUnbalanced(QStringView text, QChar open, QChar close)
{
    return text.back() == close && text.count(open) < text.count(close);
}

bool isHostWithOptionalPort(QStringView authority)
{
    if (authority.contains(u'@')) return false; // an e-mail address, or credentials without a scheme
    QStringView host = authority;
    if (const qsizetype colon = authority.lastIndexOf(u':'); colon >= 0) {
        const QStringView port = authority.mid(colon + 1);
        if (port.isEmpty() || port.size() > 5) return false;
        for (QChar c : port) {
            if (!isAsciiDigit(c)) return false;
        }
        host = authority.left(colon);
    }
    const QList<QStringView> labels = host.split(u'.');
    if (labels.size() < 2) return false;
    for (QStringView label : labels) {
        if (!isHostLabel(label)) return false;
    }
    const QStringView tldView = labels.back();
    if (tldView.size() < 2) return false;
    for (QChar c : tldView) {
        if (!c.isLetter()) return false;
    }
    const QString tld = tldView.toString().toLower();
    if (labels.front().compare(u"www", Qt::CaseInsensitive) == 0 && labels.size() >= 3) return true;
    if (isKnownGenericTld(tld)) return true;
    return tld.size() == 2 && isAsciiLetter(tld[0]) && isAsciiLetter(tld[1]) && !isFileExtensionLookalike(tld);
}

} // namespace

bool LinkDetector::isWholeLink(QStringView text)
{
    if (text.isEmpty() || text.size() > maxWholeValueLength) return false;
    for (QChar c : text) {
        if (c.isSpace()) return false;
    }
    static constexpr QStringView trailingPunctuation = u".,;:!?'\"";
    if (trailingPunctuation.contains(text.back())) return false;
    if (closesUnbalanced(text, u'(', u')') || closesUnbalanced(text, u'[', u']')) return false;

    if (const qsizetype schemeEnd = text.indexOf(u"://"); schemeEnd > 0 && isScheme(text.left(schemeEnd)))
        return schemeEnd + 3 < text.size();
    if (text.startsWith(u"mailto:", Qt::CaseInsensitive)) return false;

    qsizetype authorityEnd = text.size();
    for (QChar stop : {u'/', u'?', u'#'}) {
        if (const qsizetype at = text.indexOf(stop); at >= 0 && at < authorityEnd) authorityEnd = at;
    }
    return isHostWithOptionalPort(text.left(authorityEnd));
}

bool isLinkText(const QString& text) { return LinkDetector::isWholeLink(QStringView(text).trimmed()); }

} // namespace lumra

#pragma once

#include <QString>
#include <QStringView>

namespace lumra {

// Lumra's rule for "this text is a link". A link is one of:
//  - scheme "://" rest, the scheme a letter followed by letters, digits, "+", "-" or ".";
//  - "www." host, with an optional port and path;
//  - a bare host name "label.label.tld" with an optional port and path, where the top-level
//    domain is a known generic one or two letters that are not a common file extension
//    (so "notes.md" and "setup.py" are files, "bit.ly/x" and "example.org" are links).
// "mailto:" and "user@host" are e-mail addresses, not links. The link never contains white
// space and does not end in sentence punctuation ("example.org." is a sentence).
class LinkDetector {
public:
    // Whether the whole of `text` (already trimmed) is one link.
    static bool isWholeLink(QStringView text);
};

// The text, trimmed of white space and line breaks, is one link and nothing else.
bool isLinkText(const QString& text);

} // namespace lumra

#pragma once

#include <QString>

#include <optional>

namespace lumra {

// The link schemes Lumra opens from a row or passes on in rich text: web pages, FTP and e-mail.
// file:, launcher and custom schemes, javascript: and data: come from untrusted text.
bool isOpenableLinkScheme(const QString& scheme);

// A rich-text link as it may be kept: without control characters (browsers skip them, so
// "java\tscript:" runs as javascript:), and nothing when it names a scheme that is not openable.
// A link without a scheme (a fragment, a relative path) is kept.
std::optional<QString> keptLinkTarget(const QString& href);

} // namespace lumra

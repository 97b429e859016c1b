#pragma once

#include <QUrl>

namespace lumra::AppLinks {

inline QUrl home() { return QUrl(QStringLiteral("https://lumra.app/")); }
inline QUrl featureRequest() { return QUrl(QStringLiteral("https://lumra.app/feature-requests")); }
inline QUrl privacyPolicy() { return QUrl(QStringLiteral("https://lumra.app/privacy")); }
inline QUrl termsOfUse() { return QUrl(QStringLiteral("https://lumra.app/terms")); }

} // namespace lumra::AppLinks

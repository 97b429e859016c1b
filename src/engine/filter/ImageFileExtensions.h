#pragma once

#include <QSet>
#include <QString>
#include <QStringView>

namespace lumra {

// The lower-case extensions that make a copied file an image file.
inline const QSet<QString>& imageFileExtensions()
{
    static const QSet<QString> extensions{
        QStringLiteral("jpg"), QStringLiteral("jpeg"), QStringLiteral("png"), QStringLiteral("gif"),
        QStringLiteral("heic"), QStringLiteral("heif"), QStringLiteral("webp"), QStringLiteral("bmp"),
        QStringLiteral("tiff"), QStringLiteral("tif"), QStringLiteral("svg"), QStringLiteral("raw"),
        QStringLiteral("cr2"), QStringLiteral("cr3"), QStringLiteral("nef"), QStringLiteral("arw"),
        QStringLiteral("dng"), QStringLiteral("orf"), QStringLiteral("rw2"), QStringLiteral("psd"),
        QStringLiteral("ico"), QStringLiteral("avif"), QStringLiteral("jxl")};
    return extensions;
}

} // namespace lumra

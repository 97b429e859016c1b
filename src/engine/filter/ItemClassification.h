#pragma once

#include "engine/filter/FilterOptions.h"
#include "engine/filter/LinkDetector.h"
#include "model/ClipboardItem.h"

#include <QSet>
#include <QString>
#include <QStringView>

#include <optional>

namespace lumra {

// What a history item holds, as the type filter, its exclusions and the rows see it.
// Texts are trimmed of white space and line breaks before any test.

// A colour, an e-mail address or a link as the whole text is never longer than this; a longer
// text is none of them and is not looked at (copies may run to megabytes).
constexpr qsizetype maxWholeValueLength = 8 * 1024;

// `trimmed` holds an e-mail address somewhere / is one address and nothing else.
struct EmailMatch {
    bool anywhere = false;
    bool whole = false;
};
EmailMatch emailMatch(QStringView trimmed);
// `trimmed` is one colour value: "#" and 3, 4, 6 or 8 hex digits, or rgb(…), rgba(…), hsl(…), hsla(…), hsb(…), hsba(…).
bool isColorText(QStringView trimmed);
// The first line starts with a known command word, after an optional "$"/"%" prompt and "sudo ".
bool looksLikeCommand(const QString& text);

// A file item whose every URL names a file with an image extension.
bool isImageFileItem(const ClipboardItem& item);
// Whether the folder a URL string names is an application directory that counts as one file.
// Decided by name alone ("Tool.AppDir", "Tool.app"): there are no package bundles on Linux.
bool isPackageURL(const QString& urlString);
bool isFileTypeItem(const ClipboardItem& item);
// The last path component of a file URL string, percent escapes decoded; nullopt when it does not parse.
std::optional<QString> fileNameOfURLString(const QString& urlString);
bool isFolderTypeItem(const ClipboardItem& item);

bool matchesType(const ClipboardItem& item, TypeFilterOption option);
// True when the item is of none of the excluded types. For e-mails the exclusion is narrower than
// the filter: only a text that is one address and nothing else is an e-mail item here.
bool passesExcludedTypes(const ClipboardItem& item, const QSet<TypeFilterOption>& excludedTypes);

// Every type test of one item, computed once, so the filtered list tests bits instead of texts.
class ItemTypeBits {
public:
    enum Bit : quint16 {
        textContent = 1 << 0,
        imageContent = 1 << 1,
        link = 1 << 2,
        emailAnywhere = 1 << 3,
        emailWhole = 1 << 4,
        color = 1 << 5,
        command = 1 << 6,
        imageFile = 1 << 7,
        file = 1 << 8,
        folder = 1 << 9,
    };

    ItemTypeBits() = default;
    explicit ItemTypeBits(quint16 bits) : m_bits(bits) { }
    static ItemTypeBits of(const ClipboardItem& item);

    bool has(Bit bit) const { return m_bits & bit; }
    bool matches(TypeFilterOption option) const;
    bool isExcludedBy(TypeFilterOption option) const;
    // Whether any of `excluded` (a mask of 1 << TypeFilterOption) removes the item.
    bool isExcludedByAny(quint32 excludedMask) const;
    quint16 raw() const { return m_bits; }

private:
    quint16 m_bits = 0;
};

quint32 typeOptionMask(const QSet<TypeFilterOption>& options);

} // namespace lumra

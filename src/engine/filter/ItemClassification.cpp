#include "engine/filter/ItemClassification.h"

#include "engine/filter/ImageFileExtensions.h"

#include <QRegularExpression>
#include <QUrl>

namespace lumra {

namespace {

const QRegularExpression& emailRegex()
{
    static const QRegularExpression regex(QStringLiteral("[A-Za-z0-9._%+-]+@[A-Za-z0-9.-]+\\.[A-Za-z]{2,}"));
    return regex;
}

const QRegularExpression& colorRegex()
{
    static const QRegularExpression regex(
        QStringLiteral("^(?:#(?:[0-9A-Fa-f]{3}|[0-9A-Fa-f]{4}|[0-9A-Fa-f]{6}|[0-9A-Fa-f]{8})"
                       "|(?:rgb|rgba|hsl|hsla|hsb|hsba)\\([0-9.,%\\s\\/]+\\))$"),
        QRegularExpression::UseUnicodePropertiesOption);
    return regex;
}

const QSet<QString>& commandWords()
{
    static const QSet<QString> words{"ls", "cd", "pwd", "mkdir", "rmdir", "rm", "cp", "mv", "cat", "echo", "grep",
        "find", "sed", "awk", "sort", "uniq", "head", "tail", "wc", "chmod", "chown", "chgrp", "ln", "touch", "tar",
        "gzip", "gunzip", "zip", "unzip", "curl", "wget", "ssh", "scp", "rsync", "ping", "traceroute", "dig",
        "nslookup", "git", "docker", "kubectl", "npm", "npx", "yarn", "pnpm", "bun", "pip", "pip3", "python",
        "python3", "ruby", "node", "go", "cargo", "rustc", "swift", "swiftc", "xcodebuild", "xcrun", "pod", "brew",
        "port", "make", "cmake", "gcc", "g++", "clang", "javac", "java", "mvn", "gradle", "apt", "apt-get", "yum",
        "dnf", "pacman", "snap", "flatpak", "systemctl", "journalctl", "launchctl", "defaults", "open", "pbcopy",
        "pbpaste", "export", "source", "alias", "which", "whereis", "man", "env", "ps", "kill", "killall", "top",
        "htop", "df", "du", "free", "ifconfig", "ip", "nano", "vim", "vi", "less", "more", "diff", "patch", "sudo",
        "su", "whoami", "id", "groups", "passwd", "crontab", "at", "screen", "tmux", "nohup", "xargs", "aws",
        "gcloud", "az", "terraform", "ansible", "vagrant"};
    return words;
}

// Only spaces and tabs (not line breaks), as after a shell prompt.
QStringView trimBlanks(QStringView s)
{
    auto blank = [](QChar c) { return c.isSpace() && c != u'\n' && c != u'\r' && c != u'\v' && c != u'\f'
                                   && c != QChar(0x85) && c != QChar(0x2028) && c != QChar(0x2029); };
    while (!s.isEmpty() && blank(s.front())) s = s.mid(1);
    while (!s.isEmpty() && blank(s.back())) s.chop(1);
    return s;
}

std::optional<QUrl> parseUrl(const QString& string)
{
    QUrl url(string, QUrl::StrictMode);
    if (!url.isValid() || url.isEmpty()) return std::nullopt;
    return url;
}

// The last non-empty path component, so "file:///a/b/" names "b".
QString lastPathComponent(const QUrl& url)
{
    const QString path = url.path(QUrl::FullyDecoded);
    const QList<QStringView> pieces = QStringView(path).split(u'/', Qt::SkipEmptyParts);
    return pieces.isEmpty() ? QString() : pieces.back().toString();
}

QString pathExtension(const QUrl& url)
{
    const QString name = lastPathComponent(url);
    const qsizetype dot = name.lastIndexOf(u'.');
    return dot > 0 ? name.mid(dot + 1) : QString();
}

bool hasDirectoryPath(const QUrl& url) { return url.path().endsWith(u'/'); }

bool hasUsableFolderFlags(const ClipboardItem& item)
{
    return item.fileURLIsDirectory && item.fileURLIsDirectory->size() == item.fileURLStrings->size();
}

bool coversWhole(const QRegularExpressionMatch& match, QStringView trimmed)
{
    return match.hasMatch() && match.capturedLength() == trimmed.size();
}

} // namespace

EmailMatch emailMatch(QStringView trimmed)
{
    if (!trimmed.contains(u'@')) return {};
    const QRegularExpressionMatch match = emailRegex().match(trimmed);
    return {match.hasMatch(), trimmed.size() <= maxWholeValueLength && coversWhole(match, trimmed)};
}

bool isColorText(QStringView trimmed)
{
    if (trimmed.isEmpty() || trimmed.size() > maxWholeValueLength) return false;
    const QChar first = trimmed.front();
    if (first != u'#' && first != u'r' && first != u'h') return false;
    return coversWhole(colorRegex().match(trimmed), trimmed);
}

bool looksLikeCommand(const QString& text)
{
    QStringView line = QStringView(text).trimmed();
    if (line.isEmpty()) return false;
    if (const qsizetype newline = line.indexOf(u'\n'); newline >= 0) line = line.left(newline);
    if (line.startsWith(u'$') || line.startsWith(u'%')) line = trimBlanks(line.mid(1));
    if (line.startsWith(u"sudo ")) line = trimBlanks(line.mid(5));

    qsizetype wordEnd = 0;
    while (wordEnd < line.size() && !line[wordEnd].isSpace()) ++wordEnd;
    QStringView word = line.left(wordEnd);
    if (word.isEmpty()) return false;
    if (word.contains(u'/')) {
        const QList<QStringView> pieces = word.split(u'/', Qt::SkipEmptyParts);
        word = pieces.isEmpty() ? QStringView() : pieces.back();
    }
    return commandWords().contains(word.toString());
}

bool isImageFileItem(const ClipboardItem& item)
{
    if (item.contentType != ClipboardContentType::file || !item.fileURLStrings || item.fileURLStrings->isEmpty())
        return false;
    for (const QString& string : *item.fileURLStrings) {
        const std::optional<QUrl> url = parseUrl(string);
        if (!url || !imageFileExtensions().contains(pathExtension(*url).toLower())) return false;
    }
    return true;
}

std::optional<QString> fileNameOfURLString(const QString& urlString)
{
    const std::optional<QUrl> url = parseUrl(urlString);
    if (!url) return std::nullopt;
    return lastPathComponent(*url);
}

bool isPackageURL(const QString& urlString)
{
    const std::optional<QUrl> url = parseUrl(urlString);
    if (!url) return false;
    const QString extension = pathExtension(*url).toLower();
    return extension == u"appdir" || extension == u"app";
}

bool isFileTypeItem(const ClipboardItem& item)
{
    if (item.contentType != ClipboardContentType::file) return false;
    if (!item.fileURLStrings || item.fileURLStrings->isEmpty()) return true;
    const QStringList& strings = *item.fileURLStrings;
    if (hasUsableFolderFlags(item)) {
        for (qsizetype i = 0; i < strings.size(); ++i) {
            if (!item.fileURLIsDirectory->at(i) || isPackageURL(strings[i])) return true;
        }
        return false;
    }
    for (const QString& string : strings) {
        const std::optional<QUrl> url = parseUrl(string);
        if (!url || !hasDirectoryPath(*url) || isPackageURL(url->toString(QUrl::FullyEncoded))) return true;
    }
    return false;
}

bool isFolderTypeItem(const ClipboardItem& item)
{
    if (item.contentType != ClipboardContentType::file || !item.fileURLStrings || item.fileURLStrings->isEmpty())
        return false;
    const QStringList& strings = *item.fileURLStrings;
    if (hasUsableFolderFlags(item)) {
        for (qsizetype i = 0; i < strings.size(); ++i) {
            if (item.fileURLIsDirectory->at(i) && !isPackageURL(strings[i])) return true;
        }
        return false;
    }
    for (const QString& string : strings) {
        const std::optional<QUrl> url = parseUrl(string);
        if (url && hasDirectoryPath(*url) && !isPackageURL(url->toString(QUrl::FullyEncoded))) return true;
    }
    return false;
}

ItemTypeBits ItemTypeBits::of(const ClipboardItem& item)
{
    quint16 bits = 0;
    switch (item.contentType) {
    case ClipboardContentType::text: {
        bits |= textContent;
        const QString text = item.textContent.value_or(QString());
        const QStringView trimmed = QStringView(text).trimmed();
        if (LinkDetector::isWholeLink(trimmed)) bits |= link;
        const EmailMatch email = emailMatch(trimmed);
        if (email.anywhere) bits |= emailAnywhere;
        if (email.whole) bits |= emailWhole;
        if (isColorText(trimmed)) bits |= color;
        if (looksLikeCommand(text)) bits |= command;
        break;
    }
    case ClipboardContentType::image:
        bits |= imageContent;
        break;
    case ClipboardContentType::file:
        if (isImageFileItem(item)) bits |= imageFile;
        if (isFileTypeItem(item)) bits |= file;
        if (isFolderTypeItem(item)) bits |= folder;
        break;
    }
    return ItemTypeBits(bits);
}

bool ItemTypeBits::matches(TypeFilterOption option) const
{
    switch (option) {
    case TypeFilterOption::text: return has(textContent) && !has(link) && !has(emailWhole);
    case TypeFilterOption::images: return has(imageContent) || has(imageFile);
    case TypeFilterOption::links: return has(link);
    case TypeFilterOption::emails: return has(emailAnywhere);
    case TypeFilterOption::files: return has(file);
    case TypeFilterOption::folders: return has(folder);
    case TypeFilterOption::colors: return has(color);
    case TypeFilterOption::commands: return has(command);
    }
    return false;
}

bool ItemTypeBits::isExcludedBy(TypeFilterOption option) const
{
    return option == TypeFilterOption::emails ? has(emailWhole) : matches(option);
}

bool ItemTypeBits::isExcludedByAny(quint32 excludedMask) const
{
    for (TypeFilterOption option : allTypeFilterOptions) {
        if ((excludedMask & (1u << int(option))) && isExcludedBy(option)) return true;
    }
    return false;
}

quint32 typeOptionMask(const QSet<TypeFilterOption>& options)
{
    quint32 mask = 0;
    for (TypeFilterOption option : options) mask |= 1u << int(option);
    return mask;
}

bool matchesType(const ClipboardItem& item, TypeFilterOption option) { return ItemTypeBits::of(item).matches(option); }

bool passesExcludedTypes(const ClipboardItem& item, const QSet<TypeFilterOption>& excludedTypes)
{
    return excludedTypes.isEmpty() || !ItemTypeBits::of(item).isExcludedByAny(typeOptionMask(excludedTypes));
}

} // namespace lumra

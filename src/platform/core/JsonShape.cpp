#include "platform/core/JsonShape.h"

#include <cstring>

namespace lumra {

Status checkJsonShape(QByteArrayView text, qint64 maxValues, int maxDepth) { return checkJsonShape(text, maxValues, -1, maxDepth); }

// maxStrings < 0: strings count as values.
Status checkJsonShape(QByteArrayView text, qint64 maxValues, qint64 maxStrings, int maxDepth)
{
    qint64 values = 0, strings = 0;
    int depth = 0;
    bool inValue = false; // inside a number or a literal
    for (qsizetype i = 0; i < text.size(); ++i) {
        const char c = text[i];
        switch (c) {
        case '"':
            // A key counts too: an object of many keys costs as much as an array of many values.
            ++(maxStrings < 0 ? values : strings);
            inValue = false;
            for (++i; i < text.size() && text[i] != '"'; ++i)
                if (text[i] == '\\')
                    ++i;
            break;
        case '{':
        case '[':
            ++values;
            inValue = false;
            if (++depth > maxDepth)
                return Status::failure(QStringLiteral("nested deeper than %1").arg(maxDepth));
            break;
        case '}':
        case ']':
            --depth;
            inValue = false;
            break;
        case ',':
        case ':':
        case ' ':
        case '\t':
        case '\n':
        case '\r':
            inValue = false;
            break;
        default:
            if (!inValue)
                ++values;
            inValue = true;
            break;
        }
        if (values > maxValues)
            return Status::failure(QStringLiteral("more than %1 values").arg(maxValues));
        if (maxStrings >= 0 && strings > maxStrings)
            return Status::failure(QStringLiteral("more than %1 strings").arg(maxStrings));
    }
    return {};
}

} // namespace lumra

namespace lumra {

qsizetype skipJsonSpace(QByteArrayView text, qsizetype from)
{
    while (from < text.size() && (text[from] == ' ' || text[from] == '\t' || text[from] == '\n' || text[from] == '\r'))
        ++from;
    return from;
}

qsizetype jsonValueEnd(QByteArrayView text, qsizetype from)
{
    const qsizetype start = skipJsonSpace(text, from);
    if (start >= text.size())
        return -1;
    const auto stringEnd = [&](qsizetype quote) {
        for (qsizetype i = quote + 1; i < text.size(); ++i) {
            if (text[i] == '\\')
                ++i;
            else if (text[i] == '"')
                return i + 1;
        }
        return qsizetype(-1);
    };
    const char first = text[start];
    if (first == '"')
        return stringEnd(start);
    if (first == '{' || first == '[') {
        QByteArray open; // the brackets still open, innermost last
        for (qsizetype i = start; i < text.size(); ++i) {
            const char c = text[i];
            if (c == '"') {
                i = stringEnd(i);
                if (i < 0)
                    return -1;
                --i;
            } else if (c == '{' || c == '[') {
                open += c;
            } else if (c == '}' || c == ']') {
                if (open.isEmpty() || open.back() != (c == '}' ? '{' : '['))
                    return -1;
                open.chop(1);
                if (open.isEmpty())
                    return i + 1;
            }
        }
        return -1;
    }
    // A number or a literal: up to the next delimiter.
    qsizetype i = start;
    while (i < text.size() && text[i] != 0 && !std::strchr(",:]}[{\" \t\n\r", text[i]))
        ++i;
    return i > start ? i : -1;
}

} // namespace lumra

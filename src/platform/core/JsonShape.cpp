#include "platform/core/JsonShape.h"

namespace lumra {

Status checkJsonShape(QByteArrayView text, qint64 maxValues, int maxDepth)
{
    qint64 values = 0;
    int depth = 0;
    bool inValue = false; // inside a number or a literal
    for (qsizetype i = 0; i < text.size(); ++i) {
        const char c = text[i];
        switch (c) {
        case '"':
            // A key counts too: an object of many keys costs as much as an array of many values.
            ++values;
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
    }
    return {};
}

} // namespace lumra

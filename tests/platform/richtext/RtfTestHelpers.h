#pragma once

#include "platform/richtext/RtfCodec.h"

#include <gtest/gtest.h>

#include <QFile>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>

#include <algorithm>
#include <memory>
#include <string>

namespace lumra::test {

inline QByteArray richTextFixture(const QString& name)
{
    QFile file(QStringLiteral(LUMRA_TEST_DATA_DIR "/richtext/") + name);
    EXPECT_TRUE(file.open(QIODevice::ReadOnly)) << name.toStdString();
    return file.readAll();
}

inline std::unique_ptr<QTextDocument> documentFromRtf(const QByteArray& rtf)
{
    auto document = std::make_unique<QTextDocument>();
    EXPECT_TRUE(RichText::readRtf(rtf, document.get())) << rtf.left(200).toStdString();
    return document;
}

// The character format in the middle of the first occurrence of text.
inline QTextCharFormat formatOf(const QTextDocument& document, const QString& text)
{
    const QTextCursor found = document.find(text, 0, QTextDocument::FindCaseSensitively);
    EXPECT_FALSE(found.isNull()) << "text not found: " << text.toStdString();
    QTextCursor at(const_cast<QTextDocument*>(&document));
    at.setPosition(found.isNull() ? 0 : found.selectionStart() + 1);
    return at.charFormat();
}

inline QTextBlock blockOf(const QTextDocument& document, const QString& text)
{
    return document.find(text, 0, QTextDocument::FindCaseSensitively).block();
}

// Parameterised test names from each case's description.
struct CaseName {
    template <typename Info>
    std::string operator()(const Info& info) const
    {
        std::string name = info.param.name;
        std::replace_if(name.begin(), name.end(), [](char c) { return !std::isalnum(uchar(c)); }, '_');
        return name;
    }
};

} // namespace lumra::test

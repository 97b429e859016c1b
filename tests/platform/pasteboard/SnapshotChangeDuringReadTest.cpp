#include "platform/pasteboard/FakePasteboard.h"

#include <gtest/gtest.h>

#include <functional>

using namespace lumra;

namespace {

PasteboardRepresentation rep(const char* type, const QByteArray& data) { return {QString::fromLatin1(type), data}; }

// A clipboard whose owner changes the moment a given type is first read, the way a password
// manager can take the clipboard while an earlier copy is still being fetched.
class ChangingPasteboard final : public Pasteboard {
public:
    FakePasteboard inner;
    QString changeOnReadOf;
    std::function<void()> change;

    qint64 changeCount() const override { return inner.changeCount(); }
    bool isOwnedByUs() const override { return inner.isOwnedByUs(); }
    Result<QStringList> types() override { return inner.types(); }
    Result<QByteArray> data(const QString& mimeType) override
    {
        if (change && mimeType == changeOnReadOf)
            std::exchange(change, nullptr)();
        return inner.data(mimeType);
    }
    Result<qint64> write(const QList<PasteboardRepresentation>& representations) override
    {
        return inner.write(representations);
    }
};

struct ChangeCase {
    const char* name;
    QList<PasteboardRepresentation> first;
    const char* changedAtType;
    QList<PasteboardRepresentation> second;
};

void PrintTo(const ChangeCase& c, std::ostream* os) { *os << c.name; }

class SnapshotChangeDuringRead : public ::testing::TestWithParam<ChangeCase> { };

TEST_P(SnapshotChangeDuringRead, KeepsNothingOfEitherCopy)
{
    const ChangeCase& c = GetParam();
    ChangingPasteboard pasteboard;
    pasteboard.inner.setContents(c.first);
    pasteboard.changeOnReadOf = QString::fromLatin1(c.changedAtType);
    pasteboard.change = [&] { pasteboard.inner.setContents(c.second); };

    const PasteboardSnapshot snapshot = pasteboard.snapshot(true);

    EXPECT_TRUE(snapshot.failed());
    EXPECT_FALSE(snapshot.text.has_value());
    EXPECT_FALSE(snapshot.rtf.has_value());
    EXPECT_FALSE(snapshot.html.has_value());
    EXPECT_TRUE(snapshot.fileUrls.isEmpty());
    EXPECT_TRUE(snapshot.imageData.isEmpty());
}

const QList<PasteboardRepresentation> password {rep("UTF8_STRING", "hunter2"),
                                                rep("x-kde-passwordManagerHint", "secret")};

INSTANTIATE_TEST_SUITE_P(
    Cases, SnapshotChangeDuringRead,
    ::testing::Values(
        ChangeCase {"PasswordReplacesText", {rep("UTF8_STRING", "notes")}, "UTF8_STRING", password},
        ChangeCase {"PasswordReplacesRichText",
                    {rep("UTF8_STRING", "b"), rep("text/html", "<b>b</b>")}, "text/html",
                    {rep("UTF8_STRING", "hunter2"), rep("text/html", "<b>hunter2</b>"),
                     rep("org.nspasteboard.ConcealedType", "")}},
        ChangeCase {"PasswordReplacesFileList", {rep("text/uri-list", "file:///nowhere/a.txt\r\n")}, "text/uri-list",
                    {rep("text/uri-list", "file:///secret/key.pem\r\n"), rep("x-kde-passwordManagerHint", "secret")}}),
    [](const ::testing::TestParamInfo<ChangeCase>& info) { return std::string(info.param.name); });

TEST(SnapshotWithoutChange, KeepsWhatWasRead)
{
    ChangingPasteboard pasteboard;
    pasteboard.inner.setContents({rep("UTF8_STRING", "notes")});
    const PasteboardSnapshot snapshot = pasteboard.snapshot(false);
    EXPECT_FALSE(snapshot.failed());
    EXPECT_EQ(snapshot.text, "notes");
}

} // namespace

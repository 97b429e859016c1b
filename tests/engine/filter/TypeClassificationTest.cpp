#include "engine/filter/ItemClassification.h"

#include "FilterTestItems.h"

#include <gtest/gtest.h>

using namespace lumra;
using namespace lumra::test;

namespace {

// A text and whether the test under study accepts it.
struct TextCase {
    const char* text;
    bool accepted;
};

void PrintTo(const TextCase& c, std::ostream* out) { *out << '"' << c.text << '"'; }

class LinkText : public testing::TestWithParam<TextCase> { };

TEST_P(LinkText, WholeTrimmedTextMustBeTheLink)
{
    EXPECT_EQ(isLinkText(QString::fromUtf8(GetParam().text)), GetParam().accepted) << GetParam().text;
}

INSTANTIATE_TEST_SUITE_P(Rules, LinkText, testing::Values(
    TextCase{"https://example.com/path?q=1#top", true},
    TextCase{"  \n https://example.com \n", true},
    TextCase{"ftp://files.example.org/pub", true},
    TextCase{"file:///home/user/notes.txt", true},
    TextCase{"www.example.com", true},
    TextCase{"www.example.com/docs", true},
    TextCase{"example.org", true},
    TextCase{"example.co.uk/a/b", true},
    TextCase{"bit.ly/3xyz", true},
    TextCase{"localhost.de:8080/x", true},
    TextCase{"bücher.de", true},
    TextCase{"https://en.wikipedia.org/wiki/Foo_(bar)", true},
    TextCase{"https://example.com and more", false},
    TextCase{"see https://example.com", false},
    TextCase{"example.org.", false},
    TextCase{"(https://example.com", false},
    TextCase{"https://example.com)", false},
    TextCase{"mailto:someone@example.com", false},
    TextCase{"MAILTO:someone@example.com", false},
    TextCase{"someone@example.com", false},
    TextCase{"http://", false},
    TextCase{"", false},
    TextCase{"   \n\t", false},
    TextCase{"README.md", false},
    TextCase{"setup.py", false},
    TextCase{"ClipboardItem.h", false},
    TextCase{"config.json", false},
    TextCase{"192.168.1.1", false},
    TextCase{"std::vector", false},
    TextCase{"just words", false}));

class Command : public testing::TestWithParam<TextCase> { };

TEST_P(Command, FirstWordOfFirstLineAfterPromptAndSudo)
{
    EXPECT_EQ(looksLikeCommand(QString::fromUtf8(GetParam().text)), GetParam().accepted) << GetParam().text;
}

INSTANTIATE_TEST_SUITE_P(Words, Command, testing::Values(
    TextCase{"git status", true},
    TextCase{"$ git commit -m \"x\"", true},
    TextCase{"$ sudo git pull", true},
    TextCase{"%   sudo   apt-get install x", true},
    TextCase{"  sudo docker ps", true},
    TextCase{"Git status", false},
    TextCase{"/usr/bin/python3 script.py", true},
    TextCase{"///", false},
    TextCase{"ls\n", true},
    TextCase{"Please run this:\ngit status", false},
    TextCase{"$", false},
    TextCase{"sudo", true},
    TextCase{"sudoku", false},
    TextCase{"gitk", false},
    TextCase{"g++ -O2 main.cpp", true},
    TextCase{"", false}));

class Color : public testing::TestWithParam<TextCase> { };

TEST_P(Color, WholeTextIsOneColourValue)
{
    const ClipboardItem item = textItem("c", QString::fromUtf8(GetParam().text));
    EXPECT_EQ(matchesType(item, TypeFilterOption::colors), GetParam().accepted) << GetParam().text;
}

INSTANTIATE_TEST_SUITE_P(Values, Color, testing::Values(
    TextCase{"#abc", true}, TextCase{"#ABCD", true}, TextCase{"#a1b2c3", true}, TextCase{"#a1b2c3d4", true},
    TextCase{"#abcde", false}, TextCase{"#abcdefg", false}, TextCase{"  rgb( 10, 20, 30 )  ", true},
    TextCase{"rgba(0 0 0 / 50%)", true}, TextCase{"hsl(120, 50%, 50%)", true}, TextCase{"#fff is white", false},
    TextCase{"rgb()", false}, TextCase{"", false}));

TEST(TypeOfText, EmailAloneIsEmailNotTextButEmailInSentenceIsBoth)
{
    const ClipboardItem alone = textItem("alone", "  someone@example.com \n");
    const ClipboardItem sentence = textItem("sentence", "write to someone@example.com today");
    EXPECT_TRUE(matchesType(alone, TypeFilterOption::emails));
    EXPECT_FALSE(matchesType(alone, TypeFilterOption::text));
    EXPECT_TRUE(matchesType(sentence, TypeFilterOption::emails));
    EXPECT_TRUE(matchesType(sentence, TypeFilterOption::text));
}

TEST(TypeOfText, LinkIsNotTextButCommandAndColourAre)
{
    EXPECT_FALSE(matchesType(textItem("l", "https://example.com"), TypeFilterOption::text));
    EXPECT_TRUE(matchesType(textItem("l", "https://example.com"), TypeFilterOption::links));
    EXPECT_TRUE(matchesType(textItem("c", "git status"), TypeFilterOption::text));
    EXPECT_TRUE(matchesType(textItem("c", "#fff"), TypeFilterOption::text));
    EXPECT_TRUE(matchesType(textItem("e", ""), TypeFilterOption::text));
}

TEST(TypeOfText, OnlyTextItemsAreLinksEmailsColoursOrCommands)
{
    ClipboardItem file = fileItem("f", {"file:///tmp/git"});
    file.textContent = QStringLiteral("https://example.com someone@example.com");
    for (TypeFilterOption option : {TypeFilterOption::text, TypeFilterOption::links, TypeFilterOption::emails,
                                    TypeFilterOption::colors, TypeFilterOption::commands})
        EXPECT_FALSE(matchesType(file, option)) << toRawValue(option);
}

TEST(ExcludedTypes, ExcludingEmailsDropsOnlyWholeAddresses)
{
    const QList<ClipboardItem> items{textItem("alone", " someone@example.com "),
                                     textItem("sentence", "mail someone@example.com please"),
                                     textItem("plain", "hello")};
    FilterState excluded;
    excluded.excludedTypes = {TypeFilterOption::emails};
    EXPECT_EQ(filteredNames(items, excluded), QStringList({"sentence", "plain"}));

    FilterState filtered;
    filtered.typeFilterOption = TypeFilterOption::emails;
    EXPECT_EQ(filteredNames(items, filtered), QStringList({"alone", "sentence"}));

    EXPECT_FALSE(passesExcludedTypes(items[0], excluded.excludedTypes));
    EXPECT_TRUE(passesExcludedTypes(items[1], excluded.excludedTypes));
}

TEST(ExcludedTypes, EveryOtherExclusionUsesTheFilterTest)
{
    const QList<ClipboardItem> items{textItem("link", "https://example.com"), textItem("cmd", "$ sudo ls -la"),
                                     textItem("color", "#ff0000"), imageItem("image"),
                                     fileItem("png", {"file:///a/b.png"}), fileItem("doc", {"file:///a/b.txt"}),
                                     fileItem("dir", {"file:///a/dir/"})};
    struct Case {
        TypeFilterOption excluded;
        QStringList kept;
    };
    for (const Case& c : {Case{TypeFilterOption::links, {"cmd", "color", "image", "png", "doc", "dir"}},
                          Case{TypeFilterOption::commands, {"link", "color", "image", "png", "doc", "dir"}},
                          Case{TypeFilterOption::text, {"link", "image", "png", "doc", "dir"}},
                          Case{TypeFilterOption::images, {"link", "cmd", "color", "doc", "dir"}},
                          Case{TypeFilterOption::files, {"link", "cmd", "color", "image", "dir"}},
                          Case{TypeFilterOption::folders, {"link", "cmd", "color", "image", "png", "doc"}}}) {
        FilterState state;
        state.excludedTypes = {c.excluded};
        EXPECT_EQ(filteredNames(items, state), c.kept) << toRawValue(c.excluded);
    }
}

TEST(FileItems, ImageFileNeedsEveryUrlToBeAnImage)
{
    EXPECT_TRUE(isImageFileItem(fileItem("i", {"file:///a/x.png", "file:///a/y.JPG"})));
    EXPECT_FALSE(isImageFileItem(fileItem("i", {"file:///a/x.png", "file:///a/y.txt"})));
    EXPECT_FALSE(isImageFileItem(fileItem("i", {"file:///a/noextension"})));
    EXPECT_FALSE(isImageFileItem(fileItem("i", {})));
    EXPECT_FALSE(isImageFileItem(fileItem("i", {"file:///a/bad name.png"})));
    EXPECT_TRUE(isImageFileItem(fileItem("i", {"file:///a/My%20Photo.heic"})));
}

TEST(FileItems, FilesAndFoldersByFlagsElseByTrailingSlash)
{
    struct Case {
        ClipboardItem item;
        bool file;
        bool folder;
    };
    const Case cases[] = {
        {fileItem("flagged dir", {"file:///a/dir"}, QList<bool>{true}), false, true},
        {fileItem("flagged file", {"file:///a/dir/"}, QList<bool>{false}), true, false},
        {fileItem("both", {"file:///a/x.txt", "file:///a/dir"}, QList<bool>{false, true}), true, true},
        {fileItem("app dir", {"file:///opt/Tool.AppDir"}, QList<bool>{true}), true, false},
        {fileItem("slash", {"file:///a/dir/"}), false, true},
        {fileItem("no slash", {"file:///a/dir"}), true, false},
        {fileItem("flag count differs", {"file:///a/dir/"}, QList<bool>{false, false}), false, true},
        {fileItem("no urls", {}), true, false},
        {fileItem("unparsable", {"file:///a b/"}), true, false},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(isFileTypeItem(c.item), c.file) << *c.item.comment;
        EXPECT_EQ(isFolderTypeItem(c.item), c.folder) << *c.item.comment;
    }
}

TEST(FileItems, PackageIsDecidedByNameAlone)
{
    EXPECT_TRUE(isPackageURL("file:///opt/Tool.AppDir/"));
    EXPECT_TRUE(isPackageURL("file:///Volumes/x/Mail.app/"));
    EXPECT_FALSE(isPackageURL("file:///home/u/Documents/"));
    EXPECT_FALSE(isPackageURL("file:///does/not/exist/application/"));
    EXPECT_FALSE(isPackageURL("file:///a b/Tool.AppDir/"));
}

} // namespace

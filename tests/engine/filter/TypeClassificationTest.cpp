#include "engine/filter/ItemClassification.h"

#include "FilterTestItems.h"

#include <gtest/gtest.h>

using namespace lumra;
using namespace lumra::test;

namespace {

struct LinkCase {
    const char* text;
    bool isLink;
};

class LinkText : public testing::TestWithParam<LinkCase> { };

TEST_P(LinkText, WholeTrimmedTextMustBeTheLink)
{
    EXPECT_EQ(isLinkText(QString::fromUtf8(GetParam().text)), GetParam().isLink) << GetParam().text;
}

INSTANTIATE_TEST_SUITE_P(Rules, LinkText, testing::Values(
    LinkCase{"https://example.com/path?q=1#top", true},
    LinkCase{"  \n https://example.com \n", true},
    LinkCase{"ftp://files.example.org/pub", true},
    LinkCase{"file:///home/user/notes.txt", true},
    LinkCase{"www.example.com", true},
    LinkCase{"www.example.com/docs", true},
    LinkCase{"example.org", true},
    LinkCase{"example.co.uk/a/b", true},
    LinkCase{"bit.ly/3xyz", true},
    LinkCase{"localhost.de:8080/x", true},
    LinkCase{"bücher.de", true},
    LinkCase{"https://en.wikipedia.org/wiki/Foo_(bar)", true},
    LinkCase{"https://example.com and more", false},
    LinkCase{"see https://example.com", false},
    LinkCase{"example.org.", false},
    LinkCase{"(https://example.com", false},
    LinkCase{"https://example.com)", false},
    LinkCase{"mailto:someone@example.com", false},
    LinkCase{"MAILTO:someone@example.com", false},
    LinkCase{"someone@example.com", false},
    LinkCase{"http://", false},
    LinkCase{"", false},
    LinkCase{"   \n\t", false},
    LinkCase{"README.md", false},
    LinkCase{"setup.py", false},
    LinkCase{"ClipboardItem.h", false},
    LinkCase{"config.json", false},
    LinkCase{"192.168.1.1", false},
    LinkCase{"std::vector", false},
    LinkCase{"just words", false}));

struct CommandCase {
    const char* text;
    bool isCommand;
};

class Command : public testing::TestWithParam<CommandCase> { };

TEST_P(Command, FirstWordOfFirstLineAfterPromptAndSudo)
{
    EXPECT_EQ(looksLikeCommand(QString::fromUtf8(GetParam().text)), GetParam().isCommand) << GetParam().text;
}

INSTANTIATE_TEST_SUITE_P(Words, Command, testing::Values(
    CommandCase{"git status", true},
    CommandCase{"$ git commit -m \"x\"", true},
    CommandCase{"$ sudo git pull", true},
    CommandCase{"%   sudo   apt-get install x", true},
    CommandCase{"  sudo docker ps", true},
    CommandCase{"Git status", false},
    CommandCase{"/usr/bin/python3 script.py", true},
    CommandCase{"///", false},
    CommandCase{"ls\n", true},
    CommandCase{"Please run this:\ngit status", false},
    CommandCase{"$", false},
    CommandCase{"sudo", true},
    CommandCase{"sudoku", false},
    CommandCase{"gitk", false},
    CommandCase{"g++ -O2 main.cpp", true},
    CommandCase{"", false}));

struct ColorCase {
    const char* text;
    bool isColor;
};

class Color : public testing::TestWithParam<ColorCase> { };

TEST_P(Color, WholeTextIsOneColourValue)
{
    const ClipboardItem item = textItem("c", QString::fromUtf8(GetParam().text));
    EXPECT_EQ(matchesType(item, TypeFilterOption::colors), GetParam().isColor) << GetParam().text;
}

INSTANTIATE_TEST_SUITE_P(Values, Color, testing::Values(
    ColorCase{"#abc", true}, ColorCase{"#ABCD", true}, ColorCase{"#a1b2c3", true}, ColorCase{"#a1b2c3d4", true},
    ColorCase{"#abcde", false}, ColorCase{"#abcdefg", false}, ColorCase{"  rgb( 10, 20, 30 )  ", true},
    ColorCase{"rgba(0 0 0 / 50%)", true}, ColorCase{"hsl(120, 50%, 50%)", true}, ColorCase{"#fff is white", false},
    ColorCase{"rgb()", false}, ColorCase{"", false}));

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

#include "platform/files/FileChecks.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <sys/types.h>

using namespace lumra;

// A FIFO or a link to one, named where a file is expected, must neither block the reader nor be read.
TEST(RegularFileTest, ReadsOnlyRegularFilesAndNeverWaitsOnAFifo)
{
    QTemporaryDir dir;
    const QString fifo = dir.filePath(QStringLiteral("x.png"));
    ASSERT_EQ(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
    const QString link = dir.filePath(QStringLiteral("link.png"));
    ASSERT_TRUE(QFile::link(fifo, link));

    EXPECT_FALSE(readRegularFile(fifo, 1024));
    EXPECT_FALSE(readRegularFile(link, 1024));
    EXPECT_FALSE(isRegularFile(fifo));
    EXPECT_FALSE(readRegularFile(dir.path(), 1024));
    EXPECT_FALSE(readRegularFile(dir.filePath(QStringLiteral("missing")), 1024));

    const QString file = dir.filePath(QStringLiteral("a.txt"));
    QFile out(file);
    ASSERT_TRUE(out.open(QIODevice::WriteOnly));
    out.write("hello");
    out.close();
    EXPECT_TRUE(isRegularFile(file));
    EXPECT_EQ(readRegularFile(file, 5), QByteArray("hello"));
    EXPECT_FALSE(readRegularFile(file, 4)) << "a file over the limit is not read";
}

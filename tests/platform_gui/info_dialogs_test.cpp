#include "platform/qt/info_dialogs.h"

#include <gtest/gtest.h>

namespace ombri {
namespace {

TEST(HelpTextTest, NamesTheSamplesFolderAndTheSupportAddress)
{
    const QString text = helpText(HelpProgram::Writer, QStringLiteral("/opt/samples"));
    EXPECT_TRUE(text.startsWith(QStringLiteral(
        "What's Ombri image?\n\n      The Ombri images are images in which some messages")));
    EXPECT_TRUE(text.contains(QStringLiteral(
        "without the messages. \n\n      There are some samples at your installation folder, "
        "such as, /opt/samples\n\n\nOmbriTools:\n\n      OmbriTools includes the OmbriReader "
        "and the OmbriWriter. The OmbriReader is")));
    EXPECT_TRUE(text.contains(QStringLiteral("circles, etc..\n\n\nContact:\n\n")));
    EXPECT_TRUE(text.endsWith(
        QStringLiteral("Please feel free to send any comments or suggestions to:\n      "
                       "support@ombritools.example")));
}

TEST(HelpTextTest, TheReaderWordsOneSentenceItsOwnWay)
{
    const QString writer = helpText(HelpProgram::Writer, QStringLiteral("/s"));
    const QString reader = helpText(HelpProgram::Reader, QStringLiteral("/s"));
    EXPECT_TRUE(reader.contains(QStringLiteral(
        "      OmbriTools include an OmbriReader and an OmbriWriter. The OmbriReader is a "
        "browser-like software")));
    QString same = reader;
    same.replace(QStringLiteral("include an OmbriReader and an OmbriWriter"),
                 QStringLiteral("includes the OmbriReader and the OmbriWriter"));
    EXPECT_EQ(same, writer);
}

} // namespace
} // namespace ombri

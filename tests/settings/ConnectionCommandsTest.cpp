#include "settings/ConnectionFileCommands.h"
#include "support/ScriptedUi.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <gtest/gtest.h>
#include <sys/stat.h>

using namespace settings;
using testsupport::ScriptedUi;

namespace {

QByteArray readAll(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

}  // namespace

TEST(CommonDialog1, StartsWithTitleAndKorvelFilter)
{
    CommonDialog dlg;
    EXPECT_EQ(dlg.DialogTitle(), "Save Session");
    EXPECT_EQ(dlg.Filter(), "Korvel FTP Files (*.kvx)");
    EXPECT_TRUE(dlg.FileName().isEmpty());
}

TEST(ConnectionCommands, SaveAsksWithTitleAndFilterAndWrites)
{
    QTemporaryDir dir;
    const QString path = dir.filePath("mine.kvx");
    ScriptedUi ui;
    ui.fileNames = {path};
    CommonDialog dlg;
    EXPECT_TRUE(saveConnection(ui, nullptr, dlg, {"S", "U", "P"}));
    ASSERT_EQ(ui.saveDialogs.size(), 1);
    EXPECT_EQ(ui.saveDialogs[0].title, "Save Session");
    EXPECT_EQ(ui.saveDialogs[0].filter, "Korvel FTP Files (*.kvx)");
    EXPECT_TRUE(ui.texts().isEmpty());
    EXPECT_EQ(readAll(path), QByteArray("\"S\",\"U\",\"P\"\r\n"));
    EXPECT_EQ(dlg.FileName(), path);
}

TEST(ConnectionCommands, CancelledSaveTouchesNothing)
{
    QTemporaryDir dir;
    const QString path = dir.filePath("earlier.kvx");
    ScriptedUi ui;
    ui.fileNames = {path, ""};
    CommonDialog dlg;
    ASSERT_TRUE(saveConnection(ui, nullptr, dlg, {"h", "u", "p"}));
    // The dialog object still remembers the earlier file; a cancel must not reuse it.
    EXPECT_FALSE(saveConnection(ui, nullptr, dlg, {"other", "x", "y"}));
    EXPECT_EQ(readAll(path), QByteArray("\"h\",\"u\",\"p\"\r\n"));
    EXPECT_TRUE(ui.texts().isEmpty());
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden), QStringList{"earlier.kvx"});
}

TEST(ConnectionCommands, CancelledFirstSaveCreatesNoFile)
{
    QTemporaryDir dir;
    ScriptedUi ui;
    CommonDialog dlg;
    const QString cwd = QDir::currentPath();
    QDir::setCurrent(dir.path());
    const bool saved = saveConnection(ui, nullptr, dlg, {"h", "u", "p"});
    QDir::setCurrent(cwd);
    EXPECT_FALSE(saved);
    EXPECT_EQ(ui.saveDialogs.size(), 1);
    EXPECT_TRUE(QDir(dir.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden).isEmpty());
}

TEST(ConnectionCommands, CancelledOpenReadsNothing)
{
    ScriptedUi ui;
    CommonDialog dlg;
    EXPECT_FALSE(openConnection(ui, nullptr, dlg).has_value());
    EXPECT_EQ(ui.openDialogs.size(), 1);
    EXPECT_TRUE(ui.texts().isEmpty());
}

TEST(ConnectionCommands, FailedSaveShowsOneOkOnlyBoxNamingFileAndReason)
{
    QTemporaryDir dir;
    const QString path = dir.filePath("missing-folder/site.kvx");
    ScriptedUi ui;
    ui.fileNames = {path};
    CommonDialog dlg;
    EXPECT_FALSE(saveConnection(ui, nullptr, dlg, {"h", "u", "p"}));
    ASSERT_EQ(ui.texts().size(), 1);
    EXPECT_EQ(ui.shown[0].style, ui::MsgStyle::OkOnly);
    EXPECT_TRUE(ui.texts()[0].startsWith("Could not save the connection to " + path + ": "))
        << ui.texts()[0].toStdString();
    EXPECT_TRUE(ui.texts()[0].contains("cannot be created"));
}

TEST(ConnectionCommands, OpenReturnsTheThreeValues)
{
    QTemporaryDir dir;
    const QString path = dir.filePath("in.kvx");
    {
        QFile f(path);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write("\" ftp.lindenrow.test\",\"ana,b\",\"\"\r\n");
    }
    ScriptedUi ui;
    ui.fileNames = {path};
    CommonDialog dlg;
    const auto fields = openConnection(ui, nullptr, dlg);
    ASSERT_TRUE(fields.has_value());
    EXPECT_EQ(*fields, (ConnectionFields{" ftp.lindenrow.test", "ana,b", ""}));
    EXPECT_TRUE(ui.texts().isEmpty());
}

TEST(ConnectionCommands, OpenOfShortFileShowsReasonAndReturnsNothing)
{
    QTemporaryDir dir;
    const QString path = dir.filePath("short.kvx");
    {
        QFile f(path);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write("\"h\",\"u\"\r\n");
    }
    ScriptedUi ui;
    ui.fileNames = {path};
    CommonDialog dlg;
    EXPECT_FALSE(openConnection(ui, nullptr, dlg).has_value());
    ASSERT_EQ(ui.texts().size(), 1);
    EXPECT_EQ(ui.texts()[0],
              "Could not open the connection file " + path + ": the file ends before the third value.");
    EXPECT_EQ(ui.shown[0].style, ui::MsgStyle::OkOnly);
}

TEST(ConnectionCommands, OpenOfJunkOrAPipeNamesTheFileAndReturnsNothing)
{
    QTemporaryDir dir;
    const QString junk = dir.filePath("junk.kvx");
    {
        QFile f(junk);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write("\"h\x7f\",\"u\",\"p\"\r\n");
    }
    const QString pipe = dir.filePath("pipe.kvx");
    ASSERT_EQ(::mkfifo(QFile::encodeName(pipe).constData(), 0600), 0);
    ScriptedUi ui;
    ui.fileNames = {junk, pipe};
    CommonDialog dlg;
    EXPECT_FALSE(openConnection(ui, nullptr, dlg).has_value());
    EXPECT_FALSE(openConnection(ui, nullptr, dlg).has_value());
    ASSERT_EQ(ui.texts().size(), 2);
    EXPECT_EQ(ui.texts()[0], "Could not open the connection file " + junk +
                                  ": the file is not text (it holds the control character U+007F).");
    EXPECT_EQ(ui.texts()[1],
              "Could not open the connection file " + pipe + ": the file cannot be read (it is not an ordinary file).");
}

TEST(ConnectionCommands, OpenOfMissingFileSaysSo)
{
    QTemporaryDir dir;
    const QString path = dir.filePath("gone.kvx");
    ScriptedUi ui;
    ui.fileNames = {path};
    CommonDialog dlg;
    EXPECT_FALSE(openConnection(ui, nullptr, dlg).has_value());
    ASSERT_EQ(ui.texts().size(), 1);
    EXPECT_EQ(ui.texts()[0], "Could not open the connection file " + path + ": the file does not exist.");
    EXPECT_FALSE(QFileInfo::exists(path));
}

TEST(ConnectionCommands, OpenButtonSwitchesTheFilterForTheRestOfTheRun)
{
    ScriptedUi ui;
    CommonDialog dlg;
    // The menu item opens without touching the filter.
    openConnection(ui, nullptr, dlg);
    saveConnection(ui, nullptr, dlg, {"h", "u", "p"});
    EXPECT_EQ(ui.openDialogs.back().filter, "Korvel FTP Files (*.kvx)");
    EXPECT_EQ(ui.saveDialogs.back().filter, "Korvel FTP Files (*.kvx)");

    openConnectionFromButton(ui, nullptr, dlg);
    EXPECT_EQ(ui.openDialogs.back().filter, "KorvelFTP Settings (*.kvx)");
    saveConnection(ui, nullptr, dlg, {"h", "u", "p"});
    openConnection(ui, nullptr, dlg);
    EXPECT_EQ(ui.saveDialogs.back().filter, "KorvelFTP Settings (*.kvx)");
    EXPECT_EQ(ui.openDialogs.back().filter, "KorvelFTP Settings (*.kvx)");
    EXPECT_EQ(ui.saveDialogs.back().title, "Save Session");
    EXPECT_EQ(ui.openDialogs.back().title, "Save Session");
}

TEST(ConnectionCommands, SaveThenOpenRestoresFields)
{
    QTemporaryDir dir;
    const QString path = dir.filePath("trip.kvx");
    ScriptedUi ui;
    ui.fileNames = {path, path};  // the save, then the open
    CommonDialog dlg;
    const ConnectionFields fields{QStringLiteral("ftp.vögelsang.test"), " ana", "p,w d"};
    ASSERT_TRUE(saveConnection(ui, nullptr, dlg, fields));
    EXPECT_EQ(openConnectionFromButton(ui, nullptr, dlg), fields);
}

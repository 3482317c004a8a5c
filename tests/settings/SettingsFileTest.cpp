#include "settings/ConnectionFile.h"
#include "UnprivilegedRun.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <gtest/gtest.h>
#include <fcntl.h>
#include <iconv.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <future>
#include <random>

using namespace settings;

namespace {

QByteArray readAll(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<unreadable>");
}

void writeAll(const QString& path, const QByteArray& data)
{
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    ASSERT_EQ(f.write(data), data.size());
}

mode_t modeOf(const QString& path)
{
    struct stat st {};
    if (::stat(QFile::encodeName(path).constData(), &st) != 0)
        return 0;
    return st.st_mode & 07777;
}

}  // namespace

TEST(SettingsFile, SaveWritesTheExactBytes)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString path = dir.filePath("site.kvx");
    const auto r = saveSettingsFile(path, {"S", "U", "P"});
    ASSERT_TRUE(r.ok()) << r.reason().toStdString();
    EXPECT_EQ(readAll(path), QByteArray("\"S\",\"U\",\"P\"\r\n"));
}

TEST(SettingsFile, SaveThenLoadRestoresTheFields)
{
    QTemporaryDir dir;
    const QString path = dir.filePath("round.kvx");
    const ConnectionFields fields{QStringLiteral(" ftp.bärenhof.test"), "a,b", ""};
    ASSERT_TRUE(saveSettingsFile(path, fields).ok());
    const auto r = loadSettingsFile(path);
    ASSERT_TRUE(r.ok()) << r.reason().toStdString();
    EXPECT_EQ(r.fields, fields);
}

TEST(SettingsFile, NewFileIsOwnerReadWriteOnly)
{
    QTemporaryDir dir;
    const QString path = dir.filePath("secret.kvx");
    const mode_t old = ::umask(0);  // the widest umask must not widen the file
    const auto r = saveSettingsFile(path, {"h", "u", "p"});
    ::umask(old);
    ASSERT_TRUE(r.ok());
    EXPECT_EQ(modeOf(path), 0600u);
}

TEST(SettingsFile, ReplacingAWorldReadableFileNarrowsIt)
{
    QTemporaryDir dir;
    const QString path = dir.filePath("old.kvx");
    writeAll(path, "\"a\",\"b\",\"c\"\r\n");
    ASSERT_EQ(::chmod(QFile::encodeName(path).constData(), 0644), 0);
    ASSERT_TRUE(saveSettingsFile(path, {"h", "u", "p"}).ok());
    EXPECT_EQ(modeOf(path), 0600u);
    EXPECT_EQ(readAll(path), QByteArray("\"h\",\"u\",\"p\"\r\n"));
}

TEST(SettingsFile, SaveReplacesALongerFileCompletely)
{
    QTemporaryDir dir;
    const QString path = dir.filePath("long.kvx");
    writeAll(path, QByteArray(4096, 'x'));
    ASSERT_TRUE(saveSettingsFile(path, {"h", "u", "p"}).ok());
    EXPECT_EQ(readAll(path), QByteArray("\"h\",\"u\",\"p\"\r\n"));
}

TEST(SettingsFile, SaveLeavesNoTemporaryFilesBehind)
{
    QTemporaryDir dir;
    ASSERT_TRUE(saveSettingsFile(dir.filePath("a.kvx"), {"h", "u", "p"}).ok());
    ASSERT_TRUE(saveSettingsFile(dir.filePath("a.kvx"), {"h2", "u", "p"}).ok());
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden), QStringList{"a.kvx"});
}

TEST(SettingsFile, UnwritableFolderLeavesTheOldFileIntact)
{
    QTemporaryDir dir;
    const QString folder = dir.filePath("locked");
    ASSERT_TRUE(QDir().mkdir(folder));
    const QString path = folder + "/keep.kvx";
    const QByteArray old("\"old\",\"user\",\"pw\"\r\n");
    writeAll(path, old);
    ASSERT_EQ(::chmod(QFile::encodeName(dir.path()).constData(), 0755), 0);
    ASSERT_EQ(::chmod(QFile::encodeName(path).constData(), 0666), 0);
    ASSERT_EQ(::chmod(QFile::encodeName(folder).constData(), 0555), 0);

    const bool failedCleanly = testsupport::runUnprivileged([&] {
        const auto r = saveSettingsFile(path, {"new", "u", "p"});
        return !r.ok() && r.error == FileError::CannotCreate && r.path == path
            && r.reason().contains("permission denied");
    });
    ::chmod(QFile::encodeName(folder).constData(), 0755);
    EXPECT_TRUE(failedCleanly);
    EXPECT_EQ(readAll(path), old);
    EXPECT_EQ(QDir(folder).entryList(QDir::Files | QDir::Hidden), QStringList{"keep.kvx"});
}

TEST(SettingsFile, ReadOnlyFileIsNotReplaced)
{
    QTemporaryDir dir;
    const QString path = dir.filePath("readonly.kvx");
    const QByteArray old("\"old\",\"user\",\"pw\"\r\n");
    writeAll(path, old);
    ASSERT_EQ(::chmod(QFile::encodeName(dir.path()).constData(), 0777), 0);
    ASSERT_EQ(::chmod(QFile::encodeName(path).constData(), 0444), 0);

    EXPECT_TRUE(testsupport::runUnprivileged([&] {
        const auto r = saveSettingsFile(path, {"new", "u", "p"});
        return r.error == FileError::CannotCreate && r.reason().startsWith("the file cannot be created");
    }));
    EXPECT_EQ(readAll(path), old);
    EXPECT_EQ(modeOf(path), 0444u);
}

TEST(SettingsFile, SaveIntoMissingFolderCannotCreate)
{
    QTemporaryDir dir;
    const QString path = dir.filePath("nowhere/site.kvx");
    const auto r = saveSettingsFile(path, {"h", "u", "p"});
    EXPECT_EQ(r.error, FileError::CannotCreate);
    EXPECT_EQ(r.path, path);
    EXPECT_FALSE(QFileInfo::exists(dir.filePath("nowhere")));
}

TEST(SettingsFile, SaveOntoAFolderFails)
{
    QTemporaryDir dir;
    const auto r = saveSettingsFile(dir.path(), {"h", "u", "p"});
    EXPECT_EQ(r.error, FileError::CannotCreate);
    EXPECT_TRUE(QFileInfo(dir.path()).isDir());
}

TEST(SettingsFile, LoadMissingFile)
{
    QTemporaryDir dir;
    const QString path = dir.filePath("absent.kvx");
    const auto r = loadSettingsFile(path);
    EXPECT_EQ(r.error, FileError::DoesNotExist);
    EXPECT_EQ(r.reason(), "the file does not exist");
    EXPECT_FALSE(r.fields.has_value());
    EXPECT_FALSE(QFileInfo::exists(path));
}

TEST(SettingsFile, LoadFileWithTwoValues)
{
    QTemporaryDir dir;
    const QString path = dir.filePath("two.kvx");
    writeAll(path, "\"h\",\"u\"\r\n");
    const auto r = loadSettingsFile(path);
    EXPECT_EQ(r.error, FileError::EndsEarly);
    EXPECT_EQ(r.reason(), "the file ends before the third value");
    EXPECT_FALSE(r.fields.has_value());
}

TEST(SettingsFile, LoadAFolderCannotRead)
{
    QTemporaryDir dir;
    const auto r = loadSettingsFile(dir.path());
    EXPECT_EQ(r.error, FileError::CannotRead);
}

TEST(SettingsFile, LoadUnreadableFile)
{
    QTemporaryDir dir;
    const QString path = dir.filePath("closed.kvx");
    writeAll(path, "\"h\",\"u\",\"p\"\r\n");
    ASSERT_EQ(::chmod(QFile::encodeName(dir.path()).constData(), 0755), 0);
    ASSERT_EQ(::chmod(QFile::encodeName(path).constData(), 0200), 0);
    EXPECT_TRUE(testsupport::runUnprivileged([&] {
        const auto r = loadSettingsFile(path);
        return r.error == FileError::CannotRead && !r.fields && r.reason().contains("cannot be read");
    }));
}

TEST(SettingsFile, LoadReadsTheBareThreeLineForm)
{
    QTemporaryDir dir;
    const QString path = dir.filePath("bare.kvx");
    writeAll(path, "ftp.lindenrow.test\r\nana\r\nsecret\r\n");
    const auto r = loadSettingsFile(path);
    ASSERT_TRUE(r.ok());
    EXPECT_EQ(r.fields, (ConnectionFields{"ftp.lindenrow.test", "ana", "secret"}));
}

TEST(SettingsFile, LoadReadsOnlyOrdinaryFilesAndNeverWaits)
{
    QTemporaryDir dir;
    const QString fifo = dir.filePath("pipe.kvx");
    ASSERT_EQ(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
    auto pending = std::async(std::launch::async, [&] { return loadSettingsFile(fifo); });
    if (pending.wait_for(std::chrono::seconds(10)) != std::future_status::ready) {
        ADD_FAILURE() << "reading a pipe waits for a writer";
        const int writer = ::open(QFile::encodeName(fifo).constData(), O_WRONLY);  // releases the reader
        ::close(writer);
    }
    const FileResult r = pending.get();
    EXPECT_EQ(r.error, FileError::CannotRead);
    EXPECT_EQ(r.path, fifo);
    EXPECT_EQ(r.reason(), "the file cannot be read (it is not an ordinary file)");
    EXPECT_EQ(loadSettingsFile(dir.path()).reason(), "the file cannot be read (it is a folder)");
}

TEST(SettingsFile, LoadOfADeviceEndsAtOnce)
{
    // Read to its end, /dev/zero would fill the memory: the child has little of it.
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            rlimit limit {};
            limit.rlim_cur = limit.rlim_max = 512L << 20;
#ifndef __SANITIZE_ADDRESS__  // AddressSanitizer reserves far more address space than this
            ::setrlimit(RLIMIT_AS, &limit);
#endif
            const FileResult r = loadSettingsFile(QStringLiteral("/dev/zero"));
            std::exit(r.error == FileError::CannotRead && r.detail == "it is not an ordinary file" ? 0 : 1);
        },
        ::testing::ExitedWithCode(0), "");
}

TEST(SettingsFile, LoadStopsPastSixtyFourKibibytes)
{
    QTemporaryDir dir;
    const QString path = dir.filePath("big.kvx");
    QByteArray data("\"h\",\"u\",\"p\"\r\n");
    data += QByteArray(kMaxSettingsBytes - data.size(), ' ');
    writeAll(path, data);
    auto r = loadSettingsFile(path);
    ASSERT_TRUE(r.ok()) << r.reason().toStdString();  // exactly 64 KiB: still read
    EXPECT_EQ(r.fields, (ConnectionFields{"h", "u", "p"}));
    writeAll(path, data + ' ');
    r = loadSettingsFile(path);
    EXPECT_EQ(r.error, FileError::TooLarge);
    EXPECT_FALSE(r.fields.has_value());
    EXPECT_EQ(r.reason(), "the file is larger than 64 KiB, far too large for connection settings");
}

TEST(SettingsFile, LoadRefusesWhatIsNotText)
{
    QTemporaryDir dir;
    const QString path = dir.filePath("junk.kvx");
    std::mt19937 gen(4);
    QByteArray junk(4096, '\0');
    for (char& c : junk)
        c = static_cast<char>(gen() & 0xFF);
    const struct {
        QByteArray bytes;
        FileError error;
        QString reason;
    } cases[] = {
        {junk, FileError::NulByte, "a NUL byte"},
        {QByteArray("\"h\",\"u\",\"p\0w\"\r\n", 14), FileError::NulByte, "a NUL byte"},
        {"\"h\",\"u\x01\",\"p\"\r\n", FileError::ControlCharacter, "the control character U+0001"},
        {"\"h\",\"\xc2\x85u\",\"p\"\r\n", FileError::ControlCharacter, "the control character U+0085"},
        {"\"caf\xe9\",\"u\x1b\",\"p\"\r\n", FileError::ControlCharacter, "the control character U+001B"},
        {"\"caf\xe9\",\"u\x81\",\"p\"\r\n", FileError::NotText,
         "bytes that are characters neither in UTF-8 nor in Windows-1252"},
    };
    for (const auto& c : cases) {
        writeAll(path, c.bytes);
        const auto r = loadSettingsFile(path);
        EXPECT_EQ(r.error, c.error) << c.bytes.left(20).toHex().constData();
        EXPECT_FALSE(r.fields.has_value());
        EXPECT_EQ(r.reason(), "the file is not text (it holds " + c.reason + ")");
    }
    // Valid UTF-8 is UTF-8 (a byte-order mark dropped); anything else is Windows-1252.
    writeAll(path, "\xef\xbb\xbf\"caf\xc3\xa9\",\"u\",\"p\"\r\n");
    EXPECT_EQ(loadSettingsFile(path).fields, (ConnectionFields{QStringLiteral("caf\u00e9"), "u", "p"}));
    writeAll(path, "\"caf\xe9\",\"J\xfcrgen\x80\",\"p\x9f\xe4\tss\"\r\n");
    EXPECT_EQ(loadSettingsFile(path).fields,
              (ConnectionFields{QStringLiteral("caf\u00e9"), QStringLiteral("J\u00fcrgen\u20ac"),
                                QStringLiteral("p\u0178\u00e4\tss")}));
    // Each byte where Windows-1252 and Latin-1 differ reads as the C library's converter reads it.
    const iconv_t cp1252 = iconv_open("UTF-16LE", "WINDOWS-1252");
    for (int byte = 0x80; byte <= 0x9F; ++byte) {
        char in = static_cast<char>(byte), *from = &in;
        char16_t out = 0;
        char* to = reinterpret_cast<char*>(&out);
        std::size_t fromLeft = 1, toLeft = sizeof out;
        const bool defined = iconv(cp1252, &from, &fromLeft, &to, &toLeft) == 0;
        writeAll(path, QByteArray("\"caf\xe9\",\"u\",\"p") + in + "\"\r\n");
        const auto fields = loadSettingsFile(path).fields;
        EXPECT_EQ(fields ? fields->password : "<refused>", defined ? QString(u'p') + QChar(out) : "<refused>") << byte;
    }
    iconv_close(cp1252);
}

// The tool pages' text work, without a window: hex fields, sensor-tag records, the log's
// information line and the writing of list files.
#include "tools/tool_text.h"

#include "kit/errors.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <sys/fsuid.h>
#include <sys/stat.h>
#include <unistd.h>

namespace rd {
namespace {

TEST(HexText, CycleNumbersAreEightUpperCaseDigits) {
    struct Case {
        int32_t value;
        const char* text;
    };
    const Case cases[] = {
        {0, "00000000"}, {17, "00000011"}, {0xabcdef, "00ABCDEF"}, {-1, "FFFFFFFF"}, {INT32_MAX, "7FFFFFFF"}};
    for (const Case& c : cases)
        EXPECT_EQ(Hex8(c.value), QString::fromLatin1(c.text)) << c.value;
}

// Eight digits and more give the 32-bit pattern of the last eight, without overflow.
TEST(HexText, ReadingStopsAtTheFirstCharacterThatIsNoHexDigit) {
    struct Case {
        const char* chars;
        int value;
    };
    const Case cases[] = {{"1A", 26},
                          {"1a", 26},
                          {"1G", 1},
                          {"G1", 0},
                          {"", 0},
                          {"FF", 255},
                          {"0064", 100},
                          {"ffff", 65535},
                          {" 1", 0},
                          {"7FFFFFFF", INT32_MAX},
                          {"80000000", INT32_MIN},
                          {"FFFFFFFF", -1},
                          {"123456789", 0x23456789},
                          {"FFFFFFFFFFFFFFFFFFF1", -15}};
    for (const Case& c : cases)
        EXPECT_EQ(HexReading(QString::fromLatin1(c.chars)), c.value) << c.chars;
}

TEST(InvLogText, InformationLineKeepsItsSeparatorsWhenWordsAreMissing) {
    EXPECT_EQ(InvLogInfoLine("12:00:01", 17, "3008", "-61"), "12:00:01    00000011     3008  -61");
    EXPECT_EQ(InvLogInfoLine("12:00:01", 2, "3008", ""), "12:00:01    00000002     3008  ");
    EXPECT_EQ(InvLogInfoLine("12:00:01", 0, "", ""), "12:00:01    00000000       ");
}

TEST(WrappingCounters, DoNotOverflow) {
    EXPECT_EQ(WrapAdd(INT32_MAX, 1), INT32_MIN);
    EXPECT_EQ(WrapSub(INT32_MIN, 1), INT32_MAX);
    EXPECT_EQ(WrapSub(150, 149), 1);
}

// A record of the given tag with T, H, mf and cf offsets at their positions (1-based:
// id 1-13, T 23-24, H 25-26, mf 31-34, cf 35-38), 40 characters long.
QString Record(const QString& id, const QString& t, const QString& h, const QString& mf, const QString& cf) {
    QString r = id + QStringLiteral("-00000000"); // positions 14-22
    r += t + h + QStringLiteral("0000") + mf + cf + QStringLiteral("00");
    EXPECT_EQ(r.size(), 40);
    return r;
}

TEST(SawRecords, DecodeReadingsAtTheirPositions) {
    struct Case {
        QString record;
        int tag, t, h, mf, cf, df;
    };
    const Case cases[] = {
        {Record("EEEE-FEDCBAF2", "1A", "32", "0064", "0032"), 2, 26, 50, 430100, 430050, 50},
        {Record("EEEE-FEDCBAF2", "1a", "ff", "0032", "0032"), 2, 26, 255, 430050, 430050, 0},
        {Record("EEEE-FEDCBAF2", "00", "00", "0032", "0064"), 2, 0, 0, 430050, 430100, -50},
        {Record("EEEE-FEDCBAF2", "1G", "G1", "00G1", "G000"), 2, 1, 0, 430000, 430000, 0},
        // The first two tags carry no frequency readings.
        {Record("EEEE-FEDCBAF0", "19", "2D", "0064", "0032"), 0, 25, 45, 0, 0, 0},
        {Record("EEEE-FEDCBAF1", "FF", "01", "0064", "0032"), 1, 255, 1, 0, 0, 0},
    };
    for (const Case& c : cases) {
        const SawRecord r = DecodeSawRecord(c.record);
        SCOPED_TRACE(c.record.toStdString());
        EXPECT_EQ(r.tag, c.tag);
        EXPECT_TRUE(r.complete);
        EXPECT_EQ(r.t, c.t);
        EXPECT_EQ(r.h, c.h);
        EXPECT_EQ(r.mf, c.mf);
        EXPECT_EQ(r.cf, c.cf);
        EXPECT_EQ(r.df, c.df);
    }
}

TEST(SawRecords, ShortOrForeignRecordsDecodeNothing) {
    const QString full2 = Record("EEEE-FEDCBAF2", "1A", "32", "0064", "0032");
    const QString full0 = Record("EEEE-FEDCBAF0", "1A", "32", "0064", "0032");
    struct Case {
        QString record;
        int tag;
        bool complete;
    };
    const Case cases[] = {
        {full2.left(38), 2, true},  // the last position read is 38
        {full2.left(37), 2, false}, // cf would need one more character
        {full2.left(26), 2, false},
        {full0.left(26), 0, true},
        {full0.left(25), 0, false},
        {full0.left(13), 0, false},
        {QStringLiteral("EEEE-FEDCBAF"), -1, false}, // shorter than an identifier
        {QString(), -1, false},
        {Record("EEEE-FEDCBAF3", "1A", "32", "0064", "0032"), -1, false},
        {Record("eeee-fedcbaf2", "1A", "32", "0064", "0032"), -1, false},
    };
    for (const Case& c : cases) {
        const SawRecord r = DecodeSawRecord(c.record);
        SCOPED_TRACE(c.record.toStdString());
        EXPECT_EQ(r.tag, c.tag);
        EXPECT_EQ(r.complete, c.complete);
        EXPECT_EQ(r.length, c.record.size());
        if (!c.complete) {
            EXPECT_EQ(r.t, 0);
            EXPECT_EQ(r.mf, 0);
        }
    }
}

QByteArray ReadAll(const QString& path) {
    QFile f(path);
    EXPECT_TRUE(f.open(QIODevice::ReadOnly)) << path.toStdString();
    return f.readAll();
}

// Answers go back to the file as the bytes they came as (one character a byte); typed texts
// as UTF-8. Every line ends with CR LF.
TEST(ListFiles, AnswersKeepTheirBytesTypedTextsAreUtf8) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString path = dir.filePath("list.txt");
    WriteTextLinesFile(path, {":1 INV 1;", QStringLiteral("Дата: "), QString()}, FileText::Typed);
    EXPECT_EQ(ReadAll(path), QByteArray(":1 INV 1;\r\n") + QStringLiteral("Дата: ").toUtf8() + "\r\n\r\n");

    const QByteArray answer("\x80:1 INV 1 3000 E2\xE9\xFF -61;\x01", 25);
    WriteTextLinesFile(path, {QString::fromLatin1(answer), QStringLiteral("12\u202F34")},
                       FileText::AnswerBytes);
    EXPECT_EQ(ReadAll(path), answer + "\r\n12?34\r\n");

    WriteTextLinesFile(path, {}, FileText::AnswerBytes); // replaces the earlier file
    EXPECT_TRUE(QFile::exists(path));
    EXPECT_EQ(ReadAll(path).size(), 0);
}

// Makes a directory read-only for this thread's file access until it goes; as root, the
// thread also takes the file system identity of an unprivileged user, which root's
// permission override does not follow.
class ReadOnlyDir {
  public:
    explicit ReadOnlyDir(const QString& path) : path_(QFile::encodeName(path)) {
        chmod(path_.constData(), 0555);
        if (geteuid() == 0)
            setfsuid(65534);
    }
    ~ReadOnlyDir() {
        if (geteuid() == 0)
            setfsuid(0);
        chmod(path_.constData(), 0700);
    }

  private:
    QByteArray path_;
};

TEST(ListFiles, AFailedSaveNamesThePathAndLeavesTheEarlierFile) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString path = dir.filePath("list.txt");
    WriteTextLinesFile(path, {"old"}, FileText::AnswerBytes);
    {
        ReadOnlyDir readOnly(dir.path());
        try {
            WriteTextLinesFile(path, {"new"}, FileText::AnswerBytes);
            ADD_FAILURE() << "no error raised";
        } catch (const AppError& e) {
            EXPECT_TRUE(e.message().contains(path)) << e.message().toStdString();
        }
    }
    EXPECT_EQ(ReadAll(path), QByteArray("old\r\n"));
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden), QStringList{"list.txt"});
}

} // namespace
} // namespace rd

// What the tool pages save, on the real window: the answers' bytes as the reader sent them,
// and the date and time of both CSV files in one form, with the local offset from UTC.
#include "window_fixture.h"

#include "tools/inv_log.h"
#include "tools/saw_monitor.h"
#include "tools/tags_page.h"

#include <QCheckBox>
#include <QFile>
#include <QTemporaryDir>

#include <cstdlib>
#include <ctime>
#include <optional>
#include <string>

namespace rd::testing {
namespace {

QByteArray ReadAll(const QString& path) {
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return "(missing)";
    return f.readAll();
}

// An answer as the routing hands it on: one character per received byte.
QString Received(const QByteArray& bytes) {
    return WidenBytes(bytes.constData(), int(bytes.size()));
}

using SavedFiles = WindowTest;

// Bytes 0x80 and above in an EPC: each list that holds answers keeps them, one byte each.
TEST_F(SavedFiles, ListsOfAnswersKeepTheReceivedBytes) {
    const QByteArray epc("E2\x80\xE9\xFF", 5);
    const QByteArray tag = ":00000001 INV 1 3000 " + epc + " -61;";
    QTemporaryDir dir;
    c<QCheckBox>("CheckBoxINV_LOG_ON")->setChecked(true);
    form().pageLOG->InvLogAnswer(Received(":00000001 START_INVENTORY;"));
    form().pageLOG->InvLogAnswer(Received(tag));
    form().pageTAGS->TagsAnswer(Received(tag));

    savePath = dir.filePath("log");
    click("BitBtnLOG_SaveFilles");
    savePath = dir.filePath("tags.csv");
    click("BitBtnTAGS_CSV");
    ASSERT_TRUE(errors.isEmpty()) << errors.join('\n').toStdString();

    const struct {
        const char* file;
        QByteArray start; // the first line, or its start
    } files[] = {
        {"log-ALL_STR.txt", tag + "\r\n"},
        {"log-FILTR_STR.txt", tag + "\r\n"},
        {"log-INFO_STR.txt", FixedTimeText().toLatin1() + "    00000001     " + epc + "  -61\r\n"},
        {"tags.csv", "EPC,Antenna,Reads,Signal,Min,Max,First seen,Last seen\r\n" + epc + ",1,1,-61,-61,-61,"},
    };
    for (const auto& f : files)
        EXPECT_TRUE(ReadAll(dir.filePath(f.file)).startsWith(f.start))
            << f.file << ": " << ReadAll(dir.filePath(f.file)).toHex(' ').toStdString();
}

// Sets TZ for the test's life (a POSIX zone rule: no zone files needed).
class LocalZone {
  public:
    explicit LocalZone(const char* tz) {
        if (const char* old = std::getenv("TZ"))
            old_ = old;
        setenv("TZ", tz, 1);
        tzset();
    }
    ~LocalZone() {
        if (old_)
            setenv("TZ", old_->c_str(), 1);
        else
            unsetenv("TZ");
        tzset();
    }

  private:
    std::optional<std::string> old_;
};

// Both CSV files write the window clock's 12:34:56 as an ISO 8601 local time with its offset.
TEST_F(SavedFiles, BothCsvFilesGiveTheLocalTimeWithItsOffset) {
    const struct {
        const char* tz;
        const char* stamp;
    } zones[] = {
        {"<+01>-1", "2024-05-06T12:34:56.000+01:00"},
        {"<-0330>3:30", "2024-05-06T12:34:56.000-03:30"},
        {"UTC0", "2024-05-06T12:34:56.000+00:00"},
    };
    for (const auto& z : zones) {
        SCOPED_TRACE(z.tz);
        LocalZone zone(z.tz);
        window.reset();
        form().pageTAGS->TagsAnswer(":00000001 INV 1 3000 E200A1 -61;");
        form().pageZEZ2011->SawAnswer(":00000005 UID EEEE-FEDCBAF0-000000001A2D00000000000000;");
        QTemporaryDir dir;
        savePath = dir.filePath("tags.csv");
        click("BitBtnTAGS_CSV");
        savePath = dir.filePath("trend");
        click("BitBtnZEZ2011_CSV");
        ASSERT_TRUE(errors.isEmpty()) << errors.join('\n').toStdString();
        const QString stamp = QString::fromLatin1(z.stamp);
        EXPECT_EQ(QString::fromLatin1(ReadAll(dir.filePath("tags.csv"))).split("\r\n").value(1),
                  "E200A1,1,1,-61,-61,-61," + stamp + ',' + stamp);
        EXPECT_EQ(QString::fromLatin1(ReadAll(dir.filePath("trend-ZEZ2011.csv"))).split("\r\n").value(1),
                  stamp + ",EEEE-FEDCBAF0,26,45,,,");
    }
}

} // namespace
} // namespace rd::testing

// Recorded sessions in the window: "Open session…" on the TAGS page loads one into the
// terminal and the table with the times it was recorded, and a session of the window
// against the simulator, played again by readerdesk-sim --replay, fills the table alike.
#include "window_fixture.h"

#include "protocol/recording.h"
#include "tools/tag_table.h"
#include "tools/tags_page.h"

#include <QAbstractItemModel>
#include <QFile>
#include <QProcess>
#include <QPushButton>
#include <QTableView>
#include <QTemporaryDir>

namespace rd::testing {
namespace {

class SessionReplayTest : public WindowTest {
  protected:
    void SetUp() override {
        WindowTest::SetUp();
        SetOpenDialogForTesting([this](const QString& name) {
            dialogs.append(name);
            return openPath;
        });
    }
    void TearDown() override {
        SetOpenDialogForTesting({});
        WindowTest::TearDown();
    }
    QAbstractItemModel* shown() { return c<QTableView>("TableTAGS")->model(); }
    QStringList rows() {
        QStringList out;
        for (int r = 0; r < shown()->rowCount(); ++r) {
            QStringList cells;
            for (int k = 0; k < shown()->columnCount(); ++k)
                cells << shown()->index(r, k).data().toString();
            out << cells.join('|');
        }
        return out;
    }
    // The table's rows as the issue compares them: EPC, reads, lowest and highest signal.
    QStringList tags() {
        QStringList out;
        const TagTable& t = form().pageTAGS->table();
        for (int i = 0; i < t.rowCount(); ++i)
            out << QStringLiteral("%1|%2|%3|%4")
                       .arg(t.row(i).epc)
                       .arg(t.row(i).reads)
                       .arg(t.row(i).min)
                       .arg(t.row(i).max);
        out.sort();
        return out;
    }
    QString openPath;
};

void Write(const QString& path, const QByteArray& text) {
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(text);
}

TEST_F(SessionReplayTest, OpenSessionLoadsTheTerminalAndTheTableWithTheRecordedTimes) {
    struct Case {
        const char* name;
        QByteArray text;
        QStringList terminal;
        QStringList rows;
    } cases[] = {
        {"traffic log",
         "2026-12-10 10:00:00.100 VKR900-15 found COM3: baud=115200 parity=N data=8 stop=2\n"
         "2026-12-10 10:00:01.000 >> 01 3A 32 20 4B 3B\n"
         "2026-12-10 10:00:01.010 << 00 3A 32 20 53 54 41 52 54 5F 49 4E 56 45 4E 54 4F 52 59 3B\n"
         "2026-12-10 10:00:01.010 << 00 3A 32 20 49 4E 56 20 31 20 30 20 45 31 20 2D 35 30 3B\n" // INV 1 0 E1
                                                                                                 // -50
         "2026-12-10 10:00:01.250 << 00 3A 32 20 49 4E 56 20 32 20 30 20 45 31 20 2D 36 30 3B\n", // INV 2 0
                                                                                                  // E1 -60
         {"VKR900-15 found COM3: baud=115200 parity=N data=8 stop=2", ">> 01 3A 32 20 4B 3B",
          "<< 00 3A 32 20 53 54 41 52 54 5F 49 4E 56 45 4E 54 4F 52 59 3B",
          "<< 00 3A 32 20 49 4E 56 20 31 20 30 20 45 31 20 2D 35 30 3B",
          "<< 00 3A 32 20 49 4E 56 20 32 20 30 20 45 31 20 2D 36 30 3B"},
         {"E1|2|2|-60|-60|-50|10:00:01.010|10:00:01.250"}},
        {"monitor output",
         "23:59:59.900 :2 INV 1 0 E2 -41;\n00:00:00.020 3A 32 20 49 4E 56 20 31 20 30 20 45 33 3B\n",
         {"<< 00 3A 32 20 49 4E 56 20 31 20 30 20 45 32 20 2D 34 31 3B",
          "<< 00 3A 32 20 49 4E 56 20 31 20 30 20 45 33 3B"},
         {"E2|1|1|-41|-41|-41|23:59:59.900|23:59:59.900", "E3|1|1||||00:00:00.020|00:00:00.020"}},
    };
    QTemporaryDir dir;
    for (const Case& k : cases) {
        SCOPED_TRACE(k.name);
        window.reset();
        openPath = dir.filePath("session.log");
        Write(openPath, k.text);
        click("BitBtnTAGS_OPEN");
        EXPECT_TRUE(errors.isEmpty()) << errors.join('\n').toStdString();
        EXPECT_EQ(memo("MemoTERMINAL")->lines()->lines(), k.terminal);
        ASSERT_TRUE(QTest::qWaitFor([&] { return shown()->rowCount() == k.rows.size(); }, 3000));
        EXPECT_EQ(rows(), k.rows);
        EXPECT_EQ(text("LabelSTATUS_REPLAY"), "replay of session.log");
        EXPECT_TRUE(c<QLabel>("LabelSTATUS_REPLAY")->isVisibleTo(&form()));
        click("BitBtnTAGS_CLEAR");
        EXPECT_FALSE(c<QLabel>("LabelSTATUS_REPLAY")->isVisibleTo(&form()));
    }
    EXPECT_EQ(dialogs, QStringList({"OpenDialogTAGS", "OpenDialogTAGS"}));

    // A damaged file: said with its line; nothing loaded.
    Write(openPath, "2026-12-10 10:00:00.100 << 00 3A 32 20 49 4E 56 20 31 20 30 20 45 31 3B\n"
                    "2026-12-10 10:00:00.200 << 00 3A 32 20 49 4E 56 20 31 20 30 20 45 31 3\n");
    click("BitBtnTAGS_OPEN");
    ASSERT_EQ(errors.size(), 1);
    EXPECT_EQ(
        errors[0].toStdString(),
        ("Cannot open session " + QDir::toNativeSeparators(openPath) +
         ": line 2: an answer whose bytes are not hexadecimal (\"<< 00 3A 32 20 49 4E 56 20 31 20 30 20 "
         "4...\")")
            .toStdString());
    QTest::qWait(250);
    EXPECT_EQ(shown()->rowCount(), 0);
    EXPECT_EQ(form().pageTAGS->table().reads(), 0);
    EXPECT_FALSE(c<QLabel>("LabelSTATUS_REPLAY")->isVisibleTo(&form()));
}

// The check: record a session of the window against the simulator, replay it into the
// window through readerdesk-sim --replay, and compare the TAGS tables.
TEST_F(SessionReplayTest, AWindowSessionReplayedBySimulatorFillsTheSameTable) {
    QTemporaryDir dir;
    const QString log = dir.filePath("session.log");
    form().setTrafficLog(log);
    sim::Options o;
    o.tagCount = 4;
    o.cyclePeriodMs = 20;
    o.varySignal = true;
    connectedTo(o);
    click("BitBtnLOG_INV_START");
    ASSERT_TRUE(QTest::qWaitFor([&] { return form().pageTAGS->table().reads() >= 40; }, 10000));
    form().StopInventoryRun();
    ASSERT_TRUE(
        QTest::qWaitFor([&] { return form().StopPending() == 0 && !sim->inventoryRunning(); }, 10000));
    const QStringList live = tags();
    ASSERT_EQ(live.size(), 4);
    window.reset();
    sim.reset();

    // The reads the replayed start brings before the stop: those recorded before the first stop.
    const proto::Recording recording = proto::ReadRecording(QFile::encodeName(log).toStdString());
    int64_t beforeStop = 0;
    bool started = false;
    for (const proto::RecordedLine& l : recording.lines) {
        if (l.kind == proto::RecordedKind::Request && l.command.rfind("EPC_STOP", 0) == 0)
            break;
        started = started || (l.kind == proto::RecordedKind::Request && l.command.rfind("KELM_EPC", 0) == 0);
        beforeStop += started && proto::FrameWord(2, proto::AnswerFrame(l.bytes)) == "INV";
    }

    QProcess replay;
    replay.start(QStringLiteral(READERDESK_SIM_EXE), {"--port-dir", QString::fromStdString(ports.path()),
                                                      "--com", "1", "--replay", log, "--speed", "0"});
    ASSERT_TRUE(replay.waitForReadyRead(5000)) << replay.readAllStandardError().toStdString();
    EXPECT_TRUE(replay.readLine().startsWith("COM1 VKR900-15 "));
    SetPortDirectory(ports.path());
    form().BF_START();
    ASSERT_TRUE(form().connected());
    click("BitBtnLOG_INV_START");
    ASSERT_TRUE(QTest::qWaitFor([&] { return form().pageTAGS->table().reads() == beforeStop; }, 10000))
        << form().pageTAGS->table().reads() << " of " << beforeStop;
    form().StopInventoryRun();
    ASSERT_TRUE(QTest::qWaitFor([&] { return form().StopPending() == 0; }, 10000));
    QTest::qWait(100);
    EXPECT_EQ(tags(), live);
    EXPECT_TRUE(errors.isEmpty()) << errors.join('\n').toStdString();
    window.reset();
    replay.terminate();
    EXPECT_TRUE(replay.waitForFinished(5000));
}

} // namespace
} // namespace rd::testing

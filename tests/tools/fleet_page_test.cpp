// The FLEET page on the real window, against a real Mosquitto broker on a loopback port of its
// own: the readers the bridges announce (retained state and stats published by the test), the
// commands of the selected row arriving at a subscriber of their topic, the reply with their id
// shown, a broker that refuses or is away told on the status line while the window keeps
// turning, and the password kept out of the settings.
#include "window_fixture.h"

#include "tools/fleet_link.h"
#include "tools/fleet_model.h"
#include "tools/fleet_page.h"

#include "kit/settings.h"
#include "mqtt/mqtt_client.h"
#include "support/mosquitto_broker.h"

#include <QElapsedTimer>
#include <QFile>
#include <QHeaderView>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLineEdit>
#include <QPushButton>
#include <QTabWidget>
#include <QTableView>
#include <QTemporaryDir>
#include <QTimer>

#include <mutex>

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace rd::testing {
namespace {

// A plain client of the broker, as a bridge or a consumer would be: it publishes, and keeps
// every message of its subscriptions.
class Peer {
  public:
    explicit Peer(const testsupport::MosquittoBroker& broker, const std::string& id,
                  const std::string& subscription = {}) {
        mqtt::ClientOptions o;
        o.broker = *mqtt::ParseBrokerUrl(broker.url(), nullptr);
        o.clientId = id;
        mqtt::Handlers h;
        h.message = [this](const mqtt::Message& m) {
            std::lock_guard lock(mutex_);
            messages_.push_back(m);
        };
        client_ = std::make_unique<mqtt::Client>(o, h);
        if (!subscription.empty())
            client_->subscribe(subscription, 1);
        EXPECT_EQ(client_->start(), "");
        EXPECT_TRUE(QTest::qWaitFor([&] { return client_->connected(); }, 10000)) << broker.log();
    }
    void publish(const std::string& topic, const std::string& payload, bool retain) {
        EXPECT_TRUE(client_->publish(topic, payload, 1, retain));
    }
    std::vector<mqtt::Message> messages() {
        std::lock_guard lock(mutex_);
        return messages_;
    }

  private:
    std::mutex mutex_;
    std::vector<mqtt::Message> messages_;
    std::unique_ptr<mqtt::Client> client_;
};

class FleetPageTest : public WindowTest {
  protected:
    FleetPage& page() { return *form().pageFLEET; }
    QLineEdit* box(const char* name) { return c<QLineEdit>(name); }
    void press(const char* name) { c<QPushButton>(name)->click(); }
    QString status() { return text("LabelFLEET_STATUS"); }
    void connectTo(int port) {
        box("EditFLEET_HOST")->setText(QStringLiteral("127.0.0.1"));
        box("EditFLEET_PORT")->setText(QString::number(port));
        press("ButtonFLEET_CONNECT");
    }
    bool waitForStatus(const QString& start, int ms = 10000) {
        return QTest::qWaitFor([&] { return status().startsWith(start); }, ms);
    }
    // The table as shown, cells joined by '|', one row a line.
    std::string rows() {
        QAbstractItemModel* m = c<QTableView>("TableFLEET")->model();
        QStringList out;
        for (int r = 0; r < m->rowCount(); ++r) {
            QStringList cells;
            for (int k = 0; k < FleetModel::kLastSeen; ++k)
                cells << m->index(r, k).data().toString();
            out << cells.join('|');
        }
        return out.join('\n').toStdString();
    }
    void select(int row) { c<QTableView>("TableFLEET")->selectRow(row); }
};

TEST_F(FleetPageTest, ThePageFollowsTagsWithItsControls) {
    QTabWidget* pages = form().PageControl1;
    const int at = pages->indexOf(&page());
    EXPECT_EQ(pages->tabText(at), "FLEET");
    EXPECT_EQ(pages->widget(at - 1)->objectName(), "TabSheetTAGS");
    EXPECT_EQ(page().objectName(), "TabSheetFLEET");
    EXPECT_EQ(box("EditFLEET_PREFIX")->text(), "readerdesk");
    EXPECT_EQ(box("EditFLEET_PORT")->text(), "1883");
    for (const char* name : {"EditFLEET_HOST", "EditFLEET_USER", "EditFLEET_PASSWORD_FILE",
                             "EditFLEET_CAFILE", "EditFLEET_COMMAND"})
        box(name);
    const std::vector<std::pair<const char*, const char*>> buttons = {
        {"ButtonFLEET_CONNECT", "CONNECT"},
        {"ButtonFLEET_DISCONNECT", "DISCONNECT"},
        {"ButtonFLEET_INVENTORY_START", "INVENTORY START"},
        {"ButtonFLEET_INVENTORY_STOP", "INVENTORY STOP"},
        {"ButtonFLEET_SEND", "SEND"}};
    for (const auto& [name, caption] : buttons)
        EXPECT_EQ(c<QPushButton>(name)->text(), caption);
    EXPECT_EQ(status(), "Not connected");
    EXPECT_EQ(c<QLabel>("LabelFLEET_STATUS")->accessibleDescription(), "Not connected");
    QStringList headers;
    QAbstractItemModel* m = c<QTableView>("TableFLEET")->model();
    for (int k = 0; k < m->columnCount(); ++k)
        headers << m->headerData(k, Qt::Horizontal).toString();
    EXPECT_EQ(headers.join('|'), "site/host|reader|identifier|state|reads/s|distinct EPCs|last seen");
}

TEST_F(FleetPageTest, ShowsTheReadersOfTheBrokerAndSendsTheirCommands) {
    testsupport::MosquittoBroker broker;
    ASSERT_TRUE(broker.start()) << broker.log();
    Peer bridge(broker, "bridge", "readerdesk/+/+/cmd");
    bridge.publish(
        "readerdesk/gw1/COM3/state",
        R"({"state":"online","port":"COM3","identifier":"VKR900-15","since":"2026-12-10T14:26:00.123+01:00"})",
        true);
    bridge.publish(
        "readerdesk/gw1/tcp-10.0.0.7-2000/state",
        R"({"state":"lost","port":"tcp://10.0.0.7:2000","identifier":"","since":"2026-12-10T14:26:00.123+01:00"})",
        true);
    bridge.publish("readerdesk/gw2/COM4/state",
                   R"({"state":"offline","port":"COM4","identifier":"VKR433-3"})", true);
    bridge.publish("other/gw3/COM5/state", R"({"state":"online"})", true);

    connectTo(broker.port());
    ASSERT_TRUE(waitForStatus("Connected to mqtt://127.0.0.1:")) << status().toStdString();
    EXPECT_EQ(c<QLabel>("LabelFLEET_STATUS")->accessibleDescription(), status());
    ASSERT_TRUE(QTest::qWaitFor([&] { return page().model().rowCount() == 3; }, 10000)) << rows();
    bridge.publish("readerdesk/gw1/COM3/stats", R"({"reads_per_s":812.5,"distinct_epcs":6,"time":"x"})",
                   false);
    ASSERT_TRUE(QTest::qWaitFor([&] { return page().model().fleetRow(0).distinctEpcs == 6; }, 10000));
    EXPECT_EQ(rows(), "gw1|COM3|VKR900-15|online|812.5|6\n"
                      "gw1|tcp-10.0.0.7-2000||lost||\n"
                      "gw2|COM4|VKR433-3|offline||");

    // Each command goes to the selected reader's topic with an id of its own.
    struct Command {
        const char* button;
        int row;
        const char* topic;
        const char* field;
        const char* value;
    };
    const std::vector<Command> commands = {
        {"ButtonFLEET_INVENTORY_START", 0, "readerdesk/gw1/COM3/cmd", "inventory", "start"},
        {"ButtonFLEET_INVENTORY_STOP", 0, "readerdesk/gw1/COM3/cmd", "inventory", "stop"},
        {"ButtonFLEET_SEND", 2, "readerdesk/gw2/COM4/cmd", "send", "VERSION"},
    };
    QStringList ids;
    for (const Command& cmd : commands) {
        SCOPED_TRACE(cmd.button);
        const std::size_t before = bridge.messages().size();
        select(cmd.row);
        press(cmd.button);
        ASSERT_TRUE(QTest::qWaitFor([&] { return bridge.messages().size() == before + 1; }, 10000));
        const mqtt::Message m = bridge.messages().back();
        EXPECT_EQ(m.topic, cmd.topic);
        const QJsonObject o = QJsonDocument::fromJson(QByteArray::fromStdString(m.payload)).object();
        EXPECT_EQ(o.value(cmd.field).toString(), cmd.value) << m.payload;
        EXPECT_EQ(o.value("id").toString(), page().lastCommandId());
        EXPECT_FALSE(ids.contains(page().lastCommandId())) << "an id used twice";
        ids << page().lastCommandId();
    }

    // A reply to another command is not shown; the one with the id of the last is.
    const std::string id = page().lastCommandId().toStdString();
    const QString waiting = "gw2/COM4: waiting for the reply to " + QString::fromStdString(id) + "…";
    EXPECT_EQ(text("LabelFLEET_REPLY"), waiting);
    bridge.publish("readerdesk/gw1/COM3/reply", R"({"id":")" + ids[0].toStdString() + R"(","ok":true})",
                   false);
    ASSERT_TRUE(QTest::qWaitFor([&] { return page().model().reply(ids[0]).has_value(); }, 10000));
    EXPECT_EQ(text("LabelFLEET_REPLY"), waiting);
    bridge.publish("readerdesk/gw2/COM4/reply",
                   R"({"id":")" + id + R"(","ok":true,"answers":[":00000007 VERSION VKR433-3;"]})", false);
    ASSERT_TRUE(
        QTest::qWaitFor([&] { return page().model().reply(QString::fromStdString(id)).has_value(); }, 10000));
    EXPECT_EQ(text("LabelFLEET_REPLY"), "gw2/COM4: :00000007 VERSION VKR433-3;");
    EXPECT_EQ(c<QLabel>("LabelFLEET_REPLY")->accessibleDescription(), text("LabelFLEET_REPLY"));

    // The last will of a bridge that vanished turns its row grey.
    bridge.publish("readerdesk/gw1/COM3/state",
                   R"({"state":"offline","port":"COM3","identifier":"VKR900-15"})", true);
    ASSERT_TRUE(QTest::qWaitFor([&] { return page().model().fleetRow(0).state == "offline"; }, 10000));

    press("ButtonFLEET_DISCONNECT");
    EXPECT_EQ(status(), "Not connected");
    EXPECT_FALSE(c<QPushButton>("ButtonFLEET_SEND")->isEnabled());
}

// A silent peer: it takes connections into its backlog and never answers.
class SilentListener {
  public:
    SilentListener() {
        fd_ = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        ::bind(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a);
        socklen_t len = sizeof a;
        ::getsockname(fd_, reinterpret_cast<sockaddr*>(&a), &len);
        ::listen(fd_, 4);
        port_ = ntohs(a.sin_port);
    }
    ~SilentListener() { ::close(fd_); }
    int port() const { return port_; }

  private:
    int fd_ = -1;
    int port_ = 0;
};

TEST_F(FleetPageTest, ABrokerThatIsAwayIsToldWhileTheWindowKeepsTurning) {
    SilentListener silent;
    struct Case {
        const char* name;
        int port;
        const char* status; // how the status line starts while it waits
        const char* why;    // and what it says
    };
    const std::vector<Case> cases = {
        {"nobody listens", testsupport::FreeLoopbackPort(),
         "mqtt://127.0.0.1:", "Connection refused — retrying"},
        {"a peer that never answers", silent.port(), "Connecting to mqtt://127.0.0.1:", "…"},
    };
    // The window's event loop: the longest pause between the ticks of a 10 ms timer.
    QElapsedTimer clock;
    clock.start();
    qint64 last = clock.elapsed();
    qint64 longest = 0;
    QTimer tick;
    QObject::connect(&tick, &QTimer::timeout, [&] {
        longest = std::max(longest, clock.elapsed() - last);
        last = clock.elapsed();
    });
    tick.start(10);
    for (const Case& k : cases) {
        SCOPED_TRACE(k.name);
        connectTo(k.port);
        ASSERT_TRUE(waitForStatus(QString::fromLatin1(k.status))) << status().toStdString();
        // Still so a while later: nothing connects, nothing hangs.
        QTest::qWait(1500);
        EXPECT_TRUE(status().startsWith(QString::fromLatin1(k.status))) << status().toStdString();
        EXPECT_TRUE(status().endsWith(QString::fromUtf8(k.why))) << status().toStdString();
        EXPECT_FALSE(page().link().isConnected());
        press("ButtonFLEET_DISCONNECT");
        EXPECT_EQ(status(), "Not connected");
        QTest::qWait(100);
    }
    EXPECT_LT(longest, 1000) << "the window stood still for " << longest << " ms";
}

TEST_F(FleetPageTest, ThePasswordComesFromItsFileAndStaysOutOfTheSettings) {
    testsupport::MosquittoBroker broker("allow_anonymous false\n");
    ASSERT_TRUE(broker.addUser("desk", "s3cret-pw"));
    ASSERT_TRUE(broker.start()) << broker.log();
    QTemporaryDir dir;
    struct Case {
        const char* name;
        const char* fileText; // nullptr: no such file
        const char* status;
        const char* why;
    };
    const std::vector<Case> cases = {
        {"no such file", nullptr, "Cannot read the password file ", "No such file or directory"},
        // A refusal that trying again cannot mend: told once, no retrying.
        {"a wrong password", "guess\n", "mqtt://127.0.0.1:", "not authorised."},
        {"the first line of the file, without its line end", "s3cret-pw\r\nsecond line\n", "Connected to ",
         ""},
    };
    for (const Case& k : cases) {
        SCOPED_TRACE(k.name);
        const QString path = dir.filePath(QString::fromLatin1(k.name));
        if (k.fileText) {
            QFile f(path);
            ASSERT_TRUE(f.open(QIODevice::WriteOnly));
            f.write(k.fileText);
        }
        box("EditFLEET_USER")->setText("desk");
        box("EditFLEET_PASSWORD_FILE")->setText(path);
        connectTo(broker.port());
        ASSERT_TRUE(waitForStatus(QString::fromLatin1(k.status))) << status().toStdString();
        EXPECT_TRUE(status().endsWith(QString::fromLatin1(k.why))) << status().toStdString();
    }
    EXPECT_TRUE(page().link().isConnected());

    const QString settings =
        QSettings(QSettings::IniFormat, QSettings::UserScope, "ReaderDesk", "readerdesk").fileName();
    QFile::remove(settings);
    form().saveSettings();
    QFile f(settings);
    ASSERT_TRUE(f.open(QIODevice::ReadOnly)) << settings.toStdString();
    const QByteArray kept = f.readAll();
    EXPECT_TRUE(kept.contains("EditFLEET_PASSWORD_FILE")) << kept.toStdString();
    EXPECT_TRUE(kept.contains("EditFLEET_USER=desk")) << kept.toStdString();
    EXPECT_FALSE(kept.contains("s3cret-pw")) << kept.toStdString();
    QFile::remove(settings);
}

} // namespace
} // namespace rd::testing

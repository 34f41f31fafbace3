// The FLEET page's table without widgets: the rows that the state, stats and reply messages
// of the bridges make, in order of host and reader, and the messages it ignores or counts as
// malformed without changing a row.
#include "tools/fleet_model.h"

#include "kit/widgets.h"

#include <QSignalSpy>

#include <gtest/gtest.h>

#include <utility>
#include <vector>

namespace rd::testing {
namespace {

const QDateTime kNow(QDate(2024, 5, 6), QTime(12, 34, 56));

// A time the bridge sent, as the table shows it in the local time of this machine.
QString Shown(const char* iso) {
    return QDateTime::fromString(QLatin1String(iso), Qt::ISODateWithMs)
        .toLocalTime()
        .toString(QStringLiteral("yyyy-MM-dd hh:mm:ss"));
}
const QString kNowShown = QStringLiteral("2024-05-06 12:34:56");

// The rows, cells joined by '|', one a line.
std::string Rows(const FleetModel& m) {
    QStringList out;
    for (int r = 0; r < m.rowCount(); ++r) {
        QStringList cells;
        for (int k = 0; k < m.columnCount(); ++k)
            cells << m.index(r, k).data().toString();
        out << cells.join(QLatin1Char('|'));
    }
    return out.join(QLatin1Char('\n')).toStdString();
}

struct Case {
    const char* name;
    std::vector<std::pair<const char*, const char*>> messages; // topic, payload
    QStringList rows;
    int malformed = 0;
};

TEST(FleetModel, MessagesMakeOneRowPerReaderOfEachHost) {
    const QString since = Shown("2026-12-10T14:26:00.123+01:00");
    const QString later = Shown("2026-12-10T14:27:10.000+01:00");
    const char* online =
        R"({"state":"online","port":"COM3","identifier":"VKR900-15","since":"2026-12-10T14:26:00.123+01:00"})";
    const char* stats =
        R"({"reads_per_s":123.44,"distinct_epcs":17,"lost_bytes":0,"reconnects":0,"queue":0,"time":"2026-12-10T14:27:10.000+01:00"})";
    const std::vector<Case> cases = {
        {"a reader online",
         {{"readerdesk/gw1/COM3/state", online}},
         {"gw1|COM3|VKR900-15|online|||" + since}},
        {"its stats on the same row",
         {{"readerdesk/gw1/COM3/state", online}, {"readerdesk/gw1/COM3/stats", stats}},
         {"gw1|COM3|VKR900-15|online|123.4|17|" + later}},
        {"stats before any state, without a time",
         {{"readerdesk/gw1/COM3/stats", R"({"reads_per_s":0,"distinct_epcs":0})"}},
         {"gw1|COM3|||0.0|0|" + kNowShown}},
        {"the last will keeps what it does not say",
         {{"readerdesk/gw1/COM3/state", online}, {"readerdesk/gw1/COM3/state", R"({"state":"offline"})"}},
         {"gw1|COM3|VKR900-15|offline|||" + kNowShown}},
        {"lost, then online again",
         {{"readerdesk/gw1/COM3/state", R"({"state":"lost","identifier":"VKR900-15"})"},
          {"readerdesk/gw1/COM3/state", online}},
         {"gw1|COM3|VKR900-15|online|||" + since}},
        {"rows in order of host and reader, whatever came first",
         {{"readerdesk/gw2/COM3/state", R"({"state":"online"})"},
          {"readerdesk/gw1/tcp-10.0.0.7-2000/state", R"({"state":"lost"})"},
          {"readerdesk/gw1/COM3/state", R"({"state":"offline"})"}},
         {"gw1|COM3||offline|||" + kNowShown, "gw1|tcp-10.0.0.7-2000||lost|||" + kNowShown,
          "gw2|COM3||online|||" + kNowShown}},
        {"topics of other kinds and other places are ignored",
         {{"other/gw1/COM3/state", R"({"state":"online"})"},
          {"readerdesk/gw1/COM3/tags", R"({"epc":"3000"})"},
          {"readerdesk/gw1/state", R"({"state":"online"})"},
          {"readerdesk/gw1/COM3/x/state", R"({"state":"online"})"},
          {"readerdesk//COM3/state", R"({"state":"online"})"},
          {"readerdesk/gw1/COM3/answers", "not JSON at all"},
          {"readerdeskX/gw1/COM3/state", R"({"state":"online"})"}},
         {}},
        {"malformed payloads are counted and change nothing",
         {{"readerdesk/gw1/COM3/state", online},
          {"readerdesk/gw1/COM3/state", "not JSON"},
          {"readerdesk/gw1/COM3/state", R"({"state":"onl)"},
          {"readerdesk/gw1/COM3/state", "[1,2]"},
          {"readerdesk/gw1/COM3/state", R"({"state":"asleep"})"},
          {"readerdesk/gw1/COM3/state", R"({"state":7})"},
          {"readerdesk/gw1/COM3/state", ""},
          {"readerdesk/gw1/COM3/stats", R"({"reads_per_s":"many"})"},
          {"readerdesk/gw1/COM3/reply", R"({"ok":true})"},
          {"readerdesk/gw1/COM3/reply", R"({"id":"7","ok":"yes"})"},
          {"readerdesk/gw2/COM3/state", "\xff\xfe{"}},
         {"gw1|COM3|VKR900-15|online|||" + since},
         10},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        FleetModel m(nullptr, [] { return kNow; });
        for (const auto& [topic, payload] : c.messages)
            m.take(QLatin1String(topic), QByteArray(payload));
        EXPECT_EQ(Rows(m), c.rows.join(QLatin1Char('\n')).toStdString());
        EXPECT_EQ(m.malformed(), c.malformed);
    }
}

TEST(FleetModel, StateColoursAndTopicsUnderThePrefix) {
    FleetModel m;
    m.setPrefix(QStringLiteral(" site/north/ "));
    EXPECT_EQ(m.patterns(),
              QStringList({"site/north/+/+/state", "site/north/+/+/stats", "site/north/+/+/reply"}));
    const std::vector<std::pair<const char*, QColor>> states = {
        {"online", colors::green()}, {"lost", colors::red()}, {"offline", QColor(128, 128, 128)}};
    for (const auto& [state, colour] : states) {
        SCOPED_TRACE(state);
        const QString topic = QStringLiteral("site/north/gw-%1/COM3/state").arg(QLatin1String(state));
        ASSERT_EQ(m.take(topic, QStringLiteral(R"({"state":"%1"})").arg(QLatin1String(state)).toUtf8()),
                  FleetModel::Taken::Row);
        const int row = m.find(QStringLiteral("gw-%1").arg(QLatin1String(state)), QStringLiteral("COM3"));
        ASSERT_GE(row, 0);
        EXPECT_EQ(m.index(row, FleetModel::kState).data(Qt::ForegroundRole).value<QColor>(), colour);
        EXPECT_EQ(m.commandTopic(row), QStringLiteral("site/north/gw-%1/COM3/cmd").arg(QLatin1String(state)));
    }
}

TEST(FleetModel, RepliesAreKeptByTheirId) {
    FleetModel m;
    QSignalSpy replied(&m, &FleetModel::replied);
    const std::vector<std::tuple<const char*, const char*, QString>> cases = {
        {"7", R"({"id":"7","ok":true,"answers":[":00000007 VERSION VKR900-15;"]})",
         ":00000007 VERSION VKR900-15;"},
        {"8", R"({"id":"8","ok":true,"answers":[":1 A;",":1 B;"]})", ":1 A;\n:1 B;"},
        {"9", R"({"id":"9","ok":true})", "ok"},
        {"10", R"({"id":10,"ok":false,"error":"read-only bridge: commands are refused"})",
         "error: read-only bridge: commands are refused"},
    };
    for (const auto& [id, payload, text] : cases) {
        SCOPED_TRACE(id);
        ASSERT_EQ(m.take(QStringLiteral("readerdesk/gw1/COM3/reply"), QByteArray(payload)),
                  FleetModel::Taken::Reply);
        ASSERT_EQ(replied.size(), 1);
        EXPECT_EQ(replied.takeFirst().at(0).toString(), QLatin1String(id));
        const auto r = m.reply(QLatin1String(id));
        ASSERT_TRUE(r);
        EXPECT_EQ(r->text(), text);
        EXPECT_EQ(r->host + "/" + r->reader, "gw1/COM3");
    }
    EXPECT_FALSE(m.reply(QStringLiteral("11")));
    EXPECT_EQ(m.rowCount(), 0) << "a reply makes no row";
}

} // namespace
} // namespace rd::testing

// The settings kept between runs: every editable box, the TRM page's switches, the window's
// geometry and its pages are written when the window closes and read back by the next one; with
// settings off nothing is read or written; a damaged file gives the defaults; a file that cannot
// be written is told once.
#include "app/window/command_line.h"
#include "app/window/main_window.h"
#include "kit/errors.h"
#include "kit/settings.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLineEdit>
#include <QTabWidget>

#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <memory>

#include <unistd.h>

namespace rd::testing {
namespace {

// Every box the user can type into, by objectName (the test main gives a private
// configuration folder, so the file below is never the user's).
std::map<QString, std::pair<std::function<QString()>, std::function<void(const QString&)>>>
boxesOf(QWidget& w) {
    std::map<QString, std::pair<std::function<QString()>, std::function<void(const QString&)>>> out;
    for (QComboBox* c : w.findChildren<QComboBox*>())
        if (c->isEditable() && !c->objectName().isEmpty() && !c->objectName().startsWith("qt_"))
            out.try_emplace(
                c->objectName(), [c] { return c->currentText(); },
                [c](const QString& t) { c->setEditText(t); });
    for (QLineEdit* e : w.findChildren<QLineEdit*>())
        if (!e->isReadOnly() && !qobject_cast<QComboBox*>(e->parentWidget()) && !e->objectName().isEmpty() &&
            !e->objectName().startsWith("qt_"))
            out.try_emplace(
                e->objectName(), [e] { return e->text(); }, [e](const QString& t) { e->setText(t); });
    return out;
}

QTabWidget& pages(TFormQUOR& w) {
    return *w.findChild<QTabWidget*>("PageControl1");
}

int tabIndex(TFormQUOR& w, const QString& caption) {
    for (int i = 0; i < pages(w).count(); ++i)
        if (pages(w).tabText(i) == caption)
            return i;
    return -1;
}

class WindowSettings : public ::testing::Test {
  protected:
    void SetUp() override {
        path_ = QSettings(QSettings::IniFormat, QSettings::UserScope, "ReaderDesk", "readerdesk").fileName();
        QFile::remove(path_);
        SetErrorSink([this](const QString& m) { errors << m; });
    }
    void TearDown() override {
        SetErrorSink({});
        SetSettingsEnabled(true);
        QFile::remove(path_);
    }

    // A window whose every box holds a text of its own (some that are no valid value for
    // the box), with a page hidden, the LOG page current and a size of its own.
    std::map<QString, QString> leaveWindow() {
        TFormQUOR w;
        std::map<QString, QString> texts;
        int n = 0;
        for (auto& [name, box] : boxesOf(w)) {
            const QString text = (n % 2 ? QString("left %1 ") : QString("x%1y")).arg(n);
            ++n;
            box.second(text);
            // What the box holds of it (a port box takes five characters).
            texts[name] = box.first();
        }
        pages(w).setTabVisible(tabIndex(w, "KAMAZ"), false);
        pages(w).setCurrentIndex(tabIndex(w, "LOG"));
        w.resize(1011, 655);
        w.saveSettings();
        return texts;
    }

    QString path_;
    QStringList errors;
};

TEST_F(WindowSettings, WrittenOnCloseAndReadByTheNextWindow) {
    const std::map<QString, QString> left = leaveWindow();
    // The boxes the user expects back, among all the others.
    for (const char* name : {"EditNET_HOST", "EditNET_PORT", "cbCOMPORT", "ComboBoxUTIL_COMMAND"})
        EXPECT_TRUE(left.count(name)) << name;
    EXPECT_GT(left.size(), 10u);

    QSettings file(path_, QSettings::IniFormat);
    for (const auto& [name, text] : left)
        EXPECT_EQ(file.value("boxes/" + name).toString(), text) << name.toStdString();
    EXPECT_FALSE(file.value("window/geometry").toByteArray().isEmpty());
    EXPECT_EQ(file.value("window/hiddenPages").toStringList(), QStringList{"KAMAZ"});
    EXPECT_EQ(file.value("window/currentPage").toString(), "LOG");

    TFormQUOR next;
    next.restoreSettings();
    for (auto& [name, box] : boxesOf(next))
        EXPECT_EQ(box.first(), left.at(name)) << name.toStdString();
    EXPECT_FALSE(pages(next).isTabVisible(tabIndex(next, "KAMAZ")));
    EXPECT_TRUE(pages(next).isTabVisible(tabIndex(next, "TAGS")));
    EXPECT_EQ(pages(next).tabText(pages(next).currentIndex()), "LOG");
    EXPECT_EQ(next.size(), QSize(1011, 655));
    EXPECT_TRUE(errors.isEmpty()) << errors.join("; ").toStdString();
}

TEST_F(WindowSettings, TerminalSwitchesAreKept) {
    {
        TFormQUOR w;
        w.findChild<QCheckBox*>("CheckBoxTRM_TIME")->setChecked(true);
        w.findChild<QCheckBox*>("CheckBoxTRM_ROUND_TRIP")->setChecked(true);
        w.findChild<QComboBox*>("ComboBoxTRM_FORM")->setCurrentIndex(2);
        w.saveSettings();
    }
    TFormQUOR next;
    next.restoreSettings();
    EXPECT_TRUE(next.findChild<QCheckBox*>("CheckBoxTRM_TIME")->isChecked());
    EXPECT_TRUE(next.findChild<QCheckBox*>("CheckBoxTRM_ROUND_TRIP")->isChecked());
    EXPECT_EQ(next.findChild<QComboBox*>("ComboBoxTRM_FORM")->currentText(), "hex + text");
}

// Where the file cannot be written, closing says so once, naming the file.
enum class Unwritable { FolderInPlaceOfTheFile, FileInPlaceOfTheFolder, ReadOnlyFolder };

std::string caseName(Unwritable u) {
    switch (u) {
    case Unwritable::FolderInPlaceOfTheFile:
        return "FolderInPlaceOfTheFile";
    case Unwritable::FileInPlaceOfTheFolder:
        return "FileInPlaceOfTheFolder";
    case Unwritable::ReadOnlyFolder:
        break;
    }
    return "ReadOnlyFolder";
}

class UnwritableSettings : public WindowSettings, public ::testing::WithParamInterface<Unwritable> {
  protected:
    void TearDown() override {
        const QString folder = QFileInfo(path_).path();
        QFile(folder).setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        QDir(path_).removeRecursively();
        if (QFileInfo(folder).isFile())
            QFile::remove(folder);
        WindowSettings::TearDown();
    }
};

TEST_P(UnwritableSettings, ClosingSaysSoOnceNamingTheFile) {
    const QString folder = QFileInfo(path_).path();
    switch (GetParam()) {
    case Unwritable::FolderInPlaceOfTheFile:
        ASSERT_TRUE(QDir().mkpath(path_));
        break;
    case Unwritable::FileInPlaceOfTheFolder: {
        QDir(folder).removeRecursively();
        QFile f(folder);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        break;
    }
    case Unwritable::ReadOnlyFolder:
        if (::geteuid() == 0)
            GTEST_SKIP() << "root writes into a read-only folder";
        ASSERT_TRUE(QDir().mkpath(folder));
        ASSERT_TRUE(QFile(folder).setPermissions(QFile::ReadOwner | QFile::ExeOwner));
        break;
    }
    {
        TFormQUOR w;
        w.restoreSettings();
        w.findChild<QLineEdit*>("EditNET_HOST")->setText("kept?");
        w.saveSettings();
    }
    ASSERT_EQ(errors.size(), 1) << errors.join("; ").toStdString();
    EXPECT_TRUE(errors.first().contains(QDir::toNativeSeparators(path_))) << errors.first().toStdString();
}

INSTANTIATE_TEST_SUITE_P(Cases, UnwritableSettings,
                         ::testing::Values(Unwritable::FolderInPlaceOfTheFile,
                                           Unwritable::FileInPlaceOfTheFolder, Unwritable::ReadOnlyFolder),
                         [](const ::testing::TestParamInfo<Unwritable>& i) { return caseName(i.param); });

// Each case: what is in the file before the window starts, and whether settings are on.
struct DefaultsCase {
    const char* what;
    QByteArray fileContent; // empty: the file a previous window left
    bool enabled;
};

TEST_F(WindowSettings, DefaultsWhenOffOrDamaged) {
    static const char damaged[] = "\x00\xff[boxes\n=\x01geometry=@ByteArray(\n";
    const DefaultsCase cases[] = {
        {"settings off", {}, false},
        {"damaged file", QByteArray(damaged, sizeof damaged - 1) + QByteArray(3000, '\xfe'), true},
        {"unreadable entries",
         "[boxes]\nEditNET_PORT=@Variant(\\0\\0\\0\\x7f\\0\\0\\0\\x3\n[window]\ngeometry=@ByteArray(zz)\n"
         "hiddenPages=UTIL, TRM, ANT_TEST, LOG, ZEZ2011, KAMAZ, TAGS, FLEET, SWEEP, "
         "ReaderDesk\ncurrentPage=nope\n",
         true},
    };
    std::map<QString, QString> defaults;
    QSize defaultSize;
    {
        TFormQUOR w;
        for (auto& [name, box] : boxesOf(w))
            defaults[name] = box.first();
        defaultSize = w.size();
    }
    for (const DefaultsCase& c : cases) {
        SCOPED_TRACE(c.what);
        QFile::remove(path_);
        if (c.fileContent.isEmpty()) {
            leaveWindow();
        } else {
            QFile f(path_);
            ASSERT_TRUE(f.open(QIODevice::WriteOnly));
            f.write(c.fileContent);
        }
        const QByteArray before = [&] {
            QFile f(path_);
            return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
        }();
        SetSettingsEnabled(c.enabled);
        {
            TFormQUOR w;
            w.restoreSettings();
            if (!c.enabled) {
                for (auto& [name, box] : boxesOf(w))
                    EXPECT_EQ(box.first(), defaults.at(name)) << name.toStdString();
                EXPECT_EQ(w.size(), defaultSize);
                EXPECT_EQ(pages(w).tabText(pages(w).currentIndex()), "UTIL");
                // Nothing is written either.
                w.findChild<QLineEdit*>("EditNET_HOST")->setText("changed");
                w.saveSettings();
                QFile f(path_);
                ASSERT_TRUE(f.open(QIODevice::ReadOnly));
                EXPECT_EQ(f.readAll(), before);
            } else {
                // Whatever could not be read stays as the window starts; a page stays reachable.
                EXPECT_EQ(w.findChild<QLineEdit*>("EditNET_HOST")->text(), defaults.at("EditNET_HOST"));
                EXPECT_TRUE(pages(w).isTabVisible(pages(w).currentIndex()));
                EXPECT_TRUE(pages(w).isTabVisible(tabIndex(w, "UTIL")));
            }
        }
        SetSettingsEnabled(true);
    }
}

TEST(WindowSettingsOption, NoSettingsOnTheCommandLine) {
    EXPECT_TRUE(ParseCommandLine({"readerdesk", "--no-settings"}).noSettings);
    EXPECT_FALSE(ParseCommandLine({"readerdesk", "--scan"}).noSettings);
    EXPECT_EQ(ParseCommandLine({"readerdesk", "--no-settings=1"}).exitCode, 2);
}

} // namespace
} // namespace rd::testing

// The window's settings between runs: the text of every editable box (keyed by its
// objectName), the TRM page's switches, the window's geometry, the pages shown and the current
// page. Nothing is read or written while settings are off (--no-settings). A file that cannot
// be written is told when the window closes.
#include "app/window/main_window.h"
#include "kit/settings.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QLineEdit>
#include <QSignalBlocker>
#include <QTabWidget>

#include <optional>

namespace rd {

namespace {

const QString kBoxes = QStringLiteral("boxes/");
const QString kGeometry = QStringLiteral("window/geometry");
const QString kHiddenPages = QStringLiteral("window/hiddenPages");
const QString kCurrentPage = QStringLiteral("window/currentPage");
const QString kTrmTime = QStringLiteral("terminal/time");
const QString kTrmForm = QStringLiteral("terminal/form");
const QString kTrmRoundTrip = QStringLiteral("terminal/roundTrip");

// The boxes the user types into, each once by its objectName (the first of a name wins).
template <typename Fn> void forEachBox(QWidget* root, Fn fn) {
    QStringList seen;
    auto take = [&](QWidget* w) {
        const QString name = w->objectName();
        if (name.isEmpty() || name.startsWith(QLatin1String("qt_")) || seen.contains(name))
            return false;
        seen << name;
        return true;
    };
    for (QComboBox* c : root->findChildren<QComboBox*>())
        if (c->isEditable() && take(c))
            fn(
                c->objectName(), [c] { return c->currentText(); },
                [c](const QString& t) { c->setEditText(t); });
    for (QLineEdit* e : root->findChildren<QLineEdit*>()) {
        if (e->isReadOnly() || qobject_cast<QComboBox*>(e->parentWidget()) || !take(e))
            continue;
        fn(
            e->objectName(), [e] { return e->text(); }, [e](const QString& t) { e->setText(t); });
    }
}

} // namespace

void TFormQUOR::restoreSettings() {
    const auto s = OpenSettings();
    if (!s || s->status() != QSettings::NoError)
        return;
    forEachBox(this, [&](const QString& name, auto, auto set) {
        const QVariant v = s->value(kBoxes + name);
        if (!v.isValid())
            return;
        // The port box only shows the port: its text never connects anything by itself.
        std::optional<QSignalBlocker> quiet;
        if (name == QLatin1String("cbCOMPORT"))
            quiet.emplace(cbCOMPORT);
        set(v.toString());
    });
    CheckBoxTRM_TIME->setChecked(s->value(kTrmTime, false).toBool());
    CheckBoxTRM_ROUND_TRIP->setChecked(s->value(kTrmRoundTrip, false).toBool());
    const int form = ComboBoxTRM_FORM->findText(s->value(kTrmForm).toString());
    if (form >= 0)
        ComboBoxTRM_FORM->setCurrentIndex(form);
    const QByteArray geometry = s->value(kGeometry).toByteArray();
    if (!geometry.isEmpty())
        restoreGeometry(geometry);
    if (s->contains(kHiddenPages)) {
        const QStringList hidden = s->value(kHiddenPages).toStringList();
        // A list that would hide every page is not one the window can have left.
        bool anyShown = false;
        for (int i = 0; i < PageControl1->count(); ++i)
            anyShown = anyShown || !hidden.contains(PageControl1->tabText(i));
        for (int i = 0; anyShown && i < PageControl1->count(); ++i)
            PageControl1->setTabVisible(i, !hidden.contains(PageControl1->tabText(i)));
    }
    const QString current = s->value(kCurrentPage).toString();
    for (int i = 0; i < PageControl1->count(); ++i)
        if (PageControl1->tabText(i) == current && PageControl1->isTabVisible(i))
            PageControl1->setCurrentIndex(i);
}

void TFormQUOR::saveSettings() {
    const auto s = OpenSettings();
    if (!s)
        return;
    forEachBox(this, [&](const QString& name, auto get, auto) { s->setValue(kBoxes + name, get()); });
    s->setValue(kTrmTime, CheckBoxTRM_TIME->isChecked());
    s->setValue(kTrmForm, ComboBoxTRM_FORM->currentText());
    s->setValue(kTrmRoundTrip, CheckBoxTRM_ROUND_TRIP->isChecked());
    s->setValue(kGeometry, saveGeometry());
    QStringList hidden;
    for (int i = 0; i < PageControl1->count(); ++i)
        if (!PageControl1->isTabVisible(i))
            hidden << PageControl1->tabText(i);
    s->setValue(kHiddenPages, hidden);
    s->setValue(kCurrentPage, PageControl1->tabText(PageControl1->currentIndex()));
    s->sync();
    // A folder in the file's place, a folder that cannot be written: the user learns of it
    // now rather than by missing everything next time.
    if (s->status() == QSettings::AccessError)
        ReportError(QStringLiteral("The settings could not be written to %1; the boxes, pages and "
                                   "switches of this session are not kept.")
                        .arg(QDir::toNativeSeparators(s->fileName())));
}

} // namespace rd

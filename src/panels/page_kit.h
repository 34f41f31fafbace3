// Building blocks shared by the command pages. A page is written as a table of its controls:
// each line says where the control stands in the page's grid, what it is (objectName,
// caption or start text, hint, items) and which of the page's handlers a click runs. The
// pages keep their tables out of clang-format, so that each control stays on its own lines.
#pragma once

#include "kit/widgets.h"

#include <QGridLayout>
#include <QString>
#include <QStringList>

#include <functional>
#include <initializer_list>
#include <vector>

class QCheckBox;
class QComboBox;
class QPushButton;

namespace rd::page {

// One control of a page. Made by Button, Box, Check or Stretch below; the optional parts
// follow as calls: Box(...).items({...}).hint("...").
struct Control {
    enum class Kind { Button, Box, Check, Stretch };

    Kind kind = Kind::Stretch;
    QString name;            // objectName
    QString text;            // caption, or the start text of a box
    QString tip;             // tooltip
    int chars = 0;           // width of a box in characters
    QString holds;           // what a box holds: its accessible name
    QStringList list;        // the items of a box
    QString placeholderText; // shown by an empty box
    std::function<void(QWidget* page)> click;
    // The page's fields that keep the control, where it has one.
    QPushButton** keptButton = nullptr;
    QComboBox** keptBox = nullptr;
    QCheckBox** keptCheck = nullptr;

    Control hint(const QString& tooltip) const;
    Control items(const QStringList& texts) const;
    Control placeholder(const QString& text) const;
    Control keep(QPushButton** field) const;
};

// A push button whose click runs a handler of the page, e.g. &Panel900::BitBtn900_QUERY_ACKClick.
template <class Page> Control Button(const QString& name, const QString& caption, void (Page::*handler)()) {
    Control c;
    c.kind = Control::Kind::Button;
    c.name = name;
    c.text = caption;
    c.click = [handler](QWidget* page) { (static_cast<Page*>(page)->*handler)(); };
    return c;
}

// An editable box, kept in `field`, `chars` characters wide, saying what it holds. A start
// text that is one of its items is the current item.
Control Box(QComboBox** field, const QString& name, const QString& text, int chars, const QString& holds);

// A check box, kept in `field`, unchecked at start; its caption is its accessible name.
Control Check(QCheckBox** field, const QString& name, const QString& caption);

// Empty room that takes up what the controls of a strip leave.
Control Stretch();

// Several controls side by side in one cell of the grid, left to right.
struct Strip {
    Strip(std::initializer_list<Control> controls) : controls(controls) {}
    std::vector<Control> controls;
};

// A line of a page's table: a control, or a strip of them, and its cell of the grid.
struct Cell {
    Cell(int row, int column, Control control, int rowSpan = 1, int columnSpan = 1)
        : row(row), column(column), rowSpan(rowSpan), columnSpan(columnSpan), controls{std::move(control)} {}
    Cell(int row, int column, Strip strip)
        : row(row), column(column), strip(true), controls(std::move(strip.controls)) {}

    int row;
    int column;
    int rowSpan = 1;
    int columnSpan = 1;
    bool strip = false;
    std::vector<Control> controls;
};

// Makes the controls of the table on the page in the order of the table, which is the order
// the Tab key follows; puts each into its cell of the grid, keeps it in its field and
// connects its click to its handler.
void Fill(QWidget* page, QGridLayout* grid, std::initializer_list<Cell> table);

// A grid with the small margins and spacing of the pages (they share 870 x 264 pixels).
QGridLayout* CompactGrid(QWidget* parent);

} // namespace rd::page

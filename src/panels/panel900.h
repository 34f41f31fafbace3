#pragma once

#include "shell.h"

#include <QWidget>

namespace rd {

// The 900 MHz label page.
class Panel900 : public QWidget {
    Q_OBJECT
public:
    explicit Panel900(Shell& shell, QWidget* parent = nullptr);

    // Called by the window once every page exists: hooks to controls of other pages.
    void attachToWindow();

private:
    Shell& shell_;
};

// The ALPHA page: labels initialised one after another.
class PanelAlpha : public QWidget {
    Q_OBJECT
public:
    explicit PanelAlpha(Shell& shell, QWidget* parent = nullptr);

    // Called by the window once every page exists: hooks to controls of other pages.
    void attachToWindow();

private:
    Shell& shell_;
};

} // namespace rd

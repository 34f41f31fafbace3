#pragma once

#include "shell.h"

#include <QWidget>

namespace rd {

class Panel433 : public QWidget {
    Q_OBJECT
public:
    explicit Panel433(Shell& shell, QWidget* parent = nullptr);

    // Called by the window once every page exists: hooks to controls of other pages.
    void attachToWindow();

private:
    Shell& shell_;
};

} // namespace rd

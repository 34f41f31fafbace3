#pragma once

#include "shell.h"

#include <QWidget>

namespace rd {

class SawMonitorPage : public QWidget {
    Q_OBJECT
public:
    explicit SawMonitorPage(Shell& shell, QWidget* parent = nullptr);

    // Called by the window once every page exists: hooks to controls of other pages.
    void attachToWindow();

    // Answer handler, called by the answer routing with every answer text.
    void SawAnswer(const QString& answer);

private:
    Shell& shell_;
};

} // namespace rd

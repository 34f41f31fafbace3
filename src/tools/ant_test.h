#pragma once

#include "shell.h"

#include <QWidget>

namespace rd {

class AntTestPage : public QWidget {
    Q_OBJECT
public:
    explicit AntTestPage(Shell& shell, QWidget* parent = nullptr);

    // Called by the window once every page exists: hooks to controls of other pages.
    void attachToWindow();

    // Answer handler, called by the answer routing with every answer text.
    void AntTestAnswer(const QString& answer);

private:
    Shell& shell_;
};

} // namespace rd

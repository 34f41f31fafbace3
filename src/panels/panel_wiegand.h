#pragma once

#include "kit/shell.h"

#include <QWidget>

class QComboBox;

namespace rd {

// The Wiegand controller page: any command from the page's own list, power of readers A
// and B, and the controller's DS1302 clock set from the computer's clock or read back.
class PanelWiegand : public QWidget {
    Q_OBJECT
  public:
    explicit PanelWiegand(Shell& shell, QWidget* parent = nullptr);

    // Called by the window once every page exists: hooks to controls of other pages.
    void attachToWindow();

    // Click handlers.
    void BitBtnWG_SEND_STRINGClick();
    void BitBtnWG_READER_A_ONClick();
    void BitBtnWG_READER_A_OFFClick();
    void READER_B_ONClick();
    void READER_B_OFFClick();
    void BitBtnWG_SetTimeClick();
    void BitBtnWG_GetTimeClick();

  private:
    // Sends a command text to the net address of the UTIL page.
    void send(const QString& text);

    Shell& shell_;
    QComboBox* ComboBoxWG_SEND_STRING;
};

} // namespace rd

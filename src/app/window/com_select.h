// TFormCOM_SELECT: the port selection dialog. It is created at start-up and stays
// hidden; nothing shows it or reads its list.
#pragma once

#include <QDialog>

class QComboBox;
class QPushButton;

namespace rd {

class TFormCOM_SELECT : public QDialog {
    Q_OBJECT
  public:
    explicit TFormCOM_SELECT(QWidget* parent = nullptr);

    QComboBox* ComboBox_COM = nullptr;
    QPushButton* BitBtnOk = nullptr;
};

} // namespace rd

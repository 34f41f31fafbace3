#include "app/window/com_select.h"

#include "kit/widgets.h"

#include <QComboBox>
#include <QPushButton>
#include <QVBoxLayout>

namespace rd {

TFormCOM_SELECT::TFormCOM_SELECT(QWidget* parent) : QDialog(parent) {
    setObjectName(QStringLiteral("FormCOM_SELECT"));
    setWindowTitle(QStringLiteral("COM"));
    QFont f(QStringLiteral("Tahoma"));
    f.setPointSizeF(8.25);
    setFont(f);

    QStringList ports;
    for (int n = 1; n <= 9; ++n)
        ports << QStringLiteral("COM%1").arg(n);
    ComboBox_COM = MakeCombo(this, QStringLiteral("ComboBox_COM"), QStringLiteral("COM1"), ports, QString(),
                             QStringLiteral("serial port"));
    ComboBox_COM->setEditable(false);
    ComboBox_COM->setMinimumWidth(89);
    BitBtnOk = MakeButton(this, QStringLiteral("BitBtnOk"), QStringLiteral("Ok"));
    BitBtnOk->setMinimumSize(89, 25);

    auto* box = new QVBoxLayout(this);
    box->setContentsMargins(40, 24, 38, 40);
    box->setSpacing(27);
    box->addWidget(ComboBox_COM);
    box->addWidget(BitBtnOk);
    resize(167, 137);
}

} // namespace rd

#pragma once

#include "kit/shell.h"

#include <QWidget>

class QCheckBox;
class QComboBox;
class QPushButton;

namespace rd {

// The 900 MHz label page: label initialisation, words of the EPC and USER areas (of the
// only label in the field or of a numbered one), inventory start and stop, output
// attenuation, query test, power. Its three inventory boxes are the parameters of every
// inventory start in the program; the inventory log's check box stands here too.
class Panel900 : public QWidget {
    Q_OBJECT
  public:
    explicit Panel900(Shell& shell, QWidget* parent = nullptr);

    // Called by the window once every page exists: hooks to controls of other pages.
    void attachToWindow();

    // Click handlers.
    void BitBtnEPC_INIT_LABELClick();
    void BitBtn_KELM_WR_DATA_EPCClick();
    void BitBtn_KELM_WR_DATA_USERClick();
    void BitBtn_KELM_RD_DATA_EPCClick();
    void BitBtnKELM_RD_DATA_USERClick();
    void BitBtnKELM_CURR_WR_DATA_EPCClick();
    void BitBtnKELM_CURR_WR_DATA_USERClick();
    void BitBtnKELM_CURR_RD_DATA_EPCClick();
    void BitBtnKELM_CURR_RD_DATA_USERClick();
    void BitBtnEPC_INVENTORY_TIMEClick();
    void BitBtnKELM_INVENTORY_STOPClick();
    void BitBtn900_SET_ATT_OUTClick();
    void BitBtn900_QUERY_ACKClick();
    void BitBtn_900_POWER_ONClick();
    void BitBtn_900_POWER_OFFClick();

    // What the window asks of the page.
    // "KELM_EPC_INVENTORY_TIME " and the three inventory boxes: every inventory start.
    QString inventoryStartCommand() const;
    // The inventory log's switch, which stands on this page.
    QCheckBox* inventoryLogSwitch() const { return CheckBoxINV_LOG_ON; }

  private:
    Shell& shell_;

    QComboBox* ComboBox_EPC_INIT_LABEL_W1;
    QComboBox* ComboBox_EPC_INIT_LABEL_W2;
    QComboBox* ComboBox_KELM_WR_DATA_EPC_P;
    QComboBox* ComboBoxKELM_WR_DATA_EPC_DATA;
    QComboBox* ComboBox_KELM_WR_DATA_USER_P;
    QComboBox* ComboBoxKELM_WR_DATA_USER_DATA;
    QComboBox* ComboBoxKELM_CURR_WR_DATA_EPC_M;
    QComboBox* ComboBoxKELM_CURR_WR_DATA_EPC_P;
    QComboBox* ComboBoxKELM_CURR_WR_DATA_EPC_W;
    QComboBox* ComboBoxEPC_INVENTORY_TIME_Q;
    QComboBox* ComboBoxEPC_INVENTORY_TIME_C;
    QComboBox* ComboBoxEPC_INVENTORY_TIME_CNTR;
    QComboBox* ComboBox900_SET_ATT_OUT;
    QCheckBox* CheckBoxINV_LOG_ON;
};

// The ALPHA page: labels initialised one after another with three words, the third
// advanced by one for the next label.
class PanelAlpha : public QWidget {
    Q_OBJECT
  public:
    explicit PanelAlpha(Shell& shell, QWidget* parent = nullptr);

    // Called by the window once every page exists: hooks to controls of other pages.
    void attachToWindow();

    // Click handlers.
    void BitBtnALPHA_INIT_LABELClick();
    void BitBtnALPHA_INIT_LABEL_CHECKClick();
    void BitBtnALPHA_INIT_LABEL_W3_INCClick();

  private:
    Shell& shell_;

    QComboBox* ComboBoxALPHA_INIT_LABEL_W1;
    QComboBox* ComboBoxALPHA_INIT_LABEL_W2;
    QComboBox* ComboBoxALPHA_INIT_LABEL_W3;
};

} // namespace rd

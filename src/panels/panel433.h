#pragma once

#include "kit/shell.h"

#include <QWidget>

class QComboBox;
class QPushButton;

namespace rd {

class FormTimer;

// The 433 MHz active-tag page: collection, sleep, wake-up pulse, user ID and memory of a
// tag named by manufacturer ID and serial number, and a timer that repeats the console's
// command every 2 s. Its four collection boxes are also read by the sensor-tag monitor.
class Panel433 : public QWidget {
    Q_OBJECT
  public:
    explicit Panel433(Shell& shell, QWidget* parent = nullptr);

    // Called by the window once every page exists: hooks to controls of other pages.
    void attachToWindow();

    // Click handlers.
    void BitBtn433_SEND_COP_COLLECTIONClick();
    void BitBtn433_SEND_COP_SLEEPClick();
    void BitBtn433_impulsClick();
    void BitBtnSEND_COP_READ_USER_IDClick();
    void BitBtnSEND_COP_RSSI_READ_USER_IDClick();
    void BitBtnSEND_N_COP_READ_USER_IDClick();
    void BitBtnSEND_COP_WR_USER_IDClick();
    void BitBtn_util_SEND_COP_READ_MEMORYClick();
    void BitBtn_util_SEND_COP_WR_MEMORYClick();
    void BitBtnLabPeriod250msClick();
    // Starts or stops Timer433; the caption turns red while it runs.
    void BitBtn433_TimerClick();
    // Each tick of Timer433: the console's command to the console's address.
    void Timer433Timer();

    // What the window asks of the page.
    // "SEND_COP_COLLECTION " and the four collection boxes.
    QString collectionCommand() const;

  private:
    // Sends a command text to the net address of the UTIL page.
    void send(const QString& text);

    Shell& shell_;
    FormTimer* Timer433;

    QPushButton* BitBtn433_Timer;
    QComboBox* ComboBox433_WindowSize;
    QComboBox* ComboBox433_MaxPacketLength;
    QComboBox* ComboBox433_UDBTypeCode;
    QComboBox* ComboBox433_TimeOut;
    QComboBox* ComboBoxTagManufacturerID;
    QComboBox* ComboBoxTagSerialNumber;
    QComboBox* ComboBoxSEND_N_COP_READ_USER_ID;
    QComboBox* ComboBox_util_SEND_COP_WR_USER_ID_Len;
    QComboBox* ComboBox_util_SEND_COP_WR_USER_ID;
    QComboBox* ComboBox_util_SEND_COP_WR_MEMORY_Length;
    QComboBox* ComboBox_util_SEND_COP_WR_MEMORY_Addr;
    QComboBox* ComboBox_util_BitBtn_util_SEND_COP_WR_MEMORY_Length;
    QComboBox* ComboBox_util_BitBtn_util_SEND_COP_WR_MEMORY_Addr;
    QComboBox* ComboBox_util_BitBtn_util_SEND_COP_WR_MEMORY_Data;
    QComboBox* ComboBoxLabPeriod250ms;
};

} // namespace rd

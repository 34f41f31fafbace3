// What the command pages and the tools need of the main window.
#pragma once

#include <QString>
#include <QWidget>

namespace rd {

class Shell {
  public:
    virtual ~Shell() = default;

    // Command sending: every command of every page goes through these.
    virtual void SendStringLine(const QString& NetADDR, const QString& SendStr) = 0;
    virtual void SEND_STRING_COMA(const QString& str) = 0;

    // Inventory run control.
    virtual void StartInventoryRun() = 0;
    virtual void StopInventoryRun() = 0;
    virtual int StopPending() const = 0;
    // "KELM_EPC_INVENTORY_TIME " and the three inventory boxes of the 900 MHz page.
    virtual QString InventoryStartCommand() const = 0;

    // "SEND_COP_COLLECTION " and the four collection boxes of the 433 MHz page.
    virtual QString CollectionCommand() const = 0;

    // The UTIL console: the text of its command box, and a line for its receive box.
    virtual QString ConsoleCommand() const = 0;
    virtual void AppendReceived(const QString& line) = 0;

    // Reader discovery.
    virtual void BF_START() = 0;
};

} // namespace rd

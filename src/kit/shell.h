// What the command pages and the tools need of the main window.
#pragma once

#include "kit/errors.h"

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

    // The main window, in which every control can be found by its name.
    virtual QWidget* formWidget() = 0;
};

// A control of the window by its name; a missing one is a fault of the program.
template <class T> T* FindControl(Shell& shell, const char* name) {
    T* c = shell.formWidget()->findChild<T*>(QString::fromLatin1(name));
    if (!c)
        throw AppError(QStringLiteral("control %1 missing").arg(QString::fromLatin1(name)));
    return c;
}

} // namespace rd

// The window's general error handling: an error raised inside a handler ends that
// handler and is shown with its text; the program goes on.
#pragma once

#include <QString>

#include <functional>
#include <stdexcept>

class QAbstractButton;

namespace rd {

// An error raised by a handler, with the text to show.
class AppError : public std::runtime_error {
  public:
    explicit AppError(const QString& message);
    // The text whole; what() holds it in UTF-8, cut at a NUL character.
    QString message() const { return message_; }

  private:
    QString message_;
};

// Runs handler; any exception it raises is reported through the error sink.
void RunGuarded(const std::function<void()>& handler);

// Shows an error text: in a message box, or through the sink a test installed.
void ReportError(const QString& message);
// Replace the message box (tests); an empty function restores it.
void SetErrorSink(std::function<void(const QString&)> sink);

// Connect a button's click to a handler that runs inside the error handling.
void OnClick(QAbstractButton* button, std::function<void()> handler);

} // namespace rd

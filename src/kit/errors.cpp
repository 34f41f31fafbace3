#include "kit/errors.h"

#include <QAbstractButton>
#include <QApplication>
#include <QMessageBox>

namespace rd {

namespace {
std::function<void(const QString&)>& errorSink() {
    static std::function<void(const QString&)> sink;
    return sink;
}
} // namespace

AppError::AppError(const QString& message) : std::runtime_error(message.toStdString()), message_(message) {}

void ReportError(const QString& message) {
    if (errorSink()) {
        errorSink()(message);
        return;
    }
    QMessageBox::critical(QApplication::activeWindow(), QApplication::applicationName(), message);
}

void SetErrorSink(std::function<void(const QString&)> sink) {
    errorSink() = std::move(sink);
}

void RunGuarded(const std::function<void()>& handler) {
    if (!handler)
        return;
    try {
        handler();
    } catch (const AppError& e) {
        ReportError(e.message());
    } catch (const std::exception& e) {
        // Link-layer errors carry Latin-1 byte strings; everything of ours is UTF-8.
        const QString text = QString::fromUtf8(e.what());
        ReportError(text);
    } catch (...) {
        ReportError(QStringLiteral("Unknown error"));
    }
}

void OnClick(QAbstractButton* button, std::function<void()> handler) {
    QObject::connect(button, &QAbstractButton::clicked, button, [h = std::move(handler)] { RunGuarded(h); });
}

} // namespace rd

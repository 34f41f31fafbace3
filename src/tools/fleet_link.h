// The FLEET page's connection to a broker: an mqtt::Client that never holds up the window.
// The client's handlers run on its network thread; what they bring is handed to the thread of
// this object (queued) and told by its signals. Starting a client (which may look up a host
// name) and ending one (which may wait for its network thread) happen on a thread of their
// own per connection, so that open() and close() return at once. Signals of a connection that
// has been closed are never emitted.
#pragma once

#include "mqtt/mqtt_client.h"

#include <QByteArray>
#include <QObject>
#include <QString>

#include <memory>
#include <string>
#include <vector>

namespace rd {

class FleetLink : public QObject {
    Q_OBJECT
  public:
    explicit FleetLink(QObject* parent = nullptr);
    // Closes, then waits for every connection's thread (each bounded by a second or so).
    ~FleetLink() override;

    // Closes the current connection, if any, and starts one that subscribes to the patterns
    // (QoS 1) after every connect.
    void open(const mqtt::ClientOptions& options, const std::vector<std::string>& patterns);
    void close();
    bool isOpen() const { return session_ != nullptr; }
    bool isConnected() const;

    // QoS 1, not retained. False, with the reason in *why, while no connection stands.
    bool publish(const std::string& topic, const std::string& payload, std::string* why);

  signals:
    void connected(const QString& text);
    // The broker refused; `final` when trying again cannot help (the connection is closed).
    void refused(const QString& text, bool final);
    // A connection ended that nobody closed (the client goes on trying).
    void lost(const QString& text);
    // The client could not even start (a CA file that cannot be read): the connection is closed.
    void failed(const QString& text);
    void message(const QString& topic, const QByteArray& payload);

  private:
    struct Session;
    // Runs fn on this object's thread later, unless the connection of `generation` is gone by then.
    template <class Fn> void post(unsigned generation, Fn fn);
    // Joins the threads of connections that have ended.
    void reap(bool all);

    std::shared_ptr<Session> session_;
    std::vector<std::shared_ptr<Session>> ending_;
    unsigned generation_ = 0;
};

} // namespace rd

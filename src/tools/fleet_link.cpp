#include "tools/fleet_link.h"

#include <QMetaObject>

#include <condition_variable>
#include <mutex>
#include <thread>

namespace rd {

// One connection: its client and the thread that starts it, waits for the close and ends it.
struct FleetLink::Session {
    std::unique_ptr<mqtt::Client> client;
    std::mutex mutex;
    std::condition_variable wake;
    bool closing = false;
    bool done = false;
    std::thread thread;
};

FleetLink::FleetLink(QObject* parent) : QObject(parent) {}

FleetLink::~FleetLink() {
    close();
    reap(true);
}

template <class Fn> void FleetLink::post(unsigned generation, Fn fn) {
    // The object outlives every client (the destructor joins their threads), so `this` is
    // valid here; the generation drops what a closed connection still brought.
    QMetaObject::invokeMethod(
        this,
        [this, generation, fn = std::move(fn)] {
            if (generation == generation_ && session_)
                fn();
        },
        Qt::QueuedConnection);
}

void FleetLink::open(const mqtt::ClientOptions& options, const std::vector<std::string>& patterns) {
    close();
    const unsigned generation = ++generation_;
    mqtt::Handlers h;
    h.connected = [this, generation](int code, const std::string& text) {
        const QString t = QString::fromStdString(text);
        if (code == 0) {
            post(generation, [this, t] { emit connected(t); });
            return;
        }
        const bool final = mqtt::RefusalIsFinal(code);
        post(generation, [this, t, final] {
            if (final)
                close();
            emit refused(t, final);
        });
    };
    h.disconnected = [this, generation](bool expected, const std::string& text) {
        if (expected)
            return;
        const QString t = QString::fromStdString(text);
        post(generation, [this, t] { emit lost(t); });
    };
    h.message = [this, generation](const mqtt::Message& m) {
        const QString topic = QString::fromStdString(m.topic);
        const QByteArray payload = QByteArray::fromStdString(m.payload);
        post(generation, [this, topic, payload] { emit message(topic, payload); });
    };

    auto s = std::make_shared<Session>();
    s->client = std::make_unique<mqtt::Client>(options, std::move(h));
    for (const std::string& p : patterns)
        s->client->subscribe(p, 1);
    session_ = s;
    s->thread = std::thread([this, s, generation] {
        const std::string why = s->client->start();
        if (!why.empty()) {
            const QString t = QString::fromStdString(why);
            post(generation, [this, t] {
                close();
                emit failed(t);
            });
        }
        std::unique_lock lock(s->mutex);
        s->wake.wait(lock, [&] { return s->closing; });
        lock.unlock();
        s->client.reset(); // DISCONNECT, and the network thread ends
        lock.lock();
        s->done = true;
    });
}

void FleetLink::close() {
    reap(false);
    if (!session_)
        return;
    {
        std::lock_guard lock(session_->mutex);
        session_->closing = true;
    }
    session_->wake.notify_all();
    ending_.push_back(std::move(session_));
    session_.reset();
}

void FleetLink::reap(bool all) {
    for (auto it = ending_.begin(); it != ending_.end();) {
        bool done = false;
        {
            std::lock_guard lock((*it)->mutex);
            done = (*it)->done;
        }
        if (done || all) {
            (*it)->thread.join();
            it = ending_.erase(it);
        } else {
            ++it;
        }
    }
}

bool FleetLink::isConnected() const {
    if (!session_)
        return false;
    std::lock_guard lock(session_->mutex);
    return session_->client && session_->client->connected();
}

bool FleetLink::publish(const std::string& topic, const std::string& payload, std::string* why) {
    if (!session_) {
        if (why)
            *why = "not connected";
        return false;
    }
    return session_->client->publish(topic, payload, 1, false, nullptr, why);
}

} // namespace rd

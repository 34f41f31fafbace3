// A serial device server in raw mode, for the simulator: a device (the simulator's
// pseudo-terminal) served on a TCP port of 127.0.0.1. A client gets exactly the device's
// bytes and what it sends goes to the device as it is.
//
// One client at a time: a new client takes over from the one before, which is closed (as a
// server with "kick old user" does, so that a client that went away without closing never
// locks the reader out). The device is opened and locked (flock) only while a client is
// connected, as a serial line is held by one program at a time: a client that comes while
// another program holds the device is closed at once, and the device stays free for others
// while no client is connected. When the device hangs up or is gone (the simulated reader is
// unplugged) the client is closed and the port stops listening: a later connection is refused.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>
#include <thread>

namespace rd::sim {

class TcpBridge {
  public:
    // Checks that the device opens and listens on 127.0.0.1:port (0: a free port the system
    // chooses).
    // Throws std::system_error when either cannot be done.
    TcpBridge(const std::string& devicePath, uint16_t port);
    // Closes the client, the listening socket and the device.
    ~TcpBridge();
    TcpBridge(const TcpBridge&) = delete;
    TcpBridge& operator=(const TcpBridge&) = delete;

    uint16_t port() const { return port_; }
    // "tcp://127.0.0.1:<port>"
    std::string portName() const;
    // Clients accepted so far.
    int clientsAccepted() const { return accepted_.load(); }

  private:
    void run();
    // Opens and locks the device for a client: its descriptor, -EBUSY while another program
    // holds it, or -1 when it is gone.
    int takeDevice();

    std::string devicePath_;
    int device_ = -1;
    int listener_ = -1;
    int wake_ = -1;
    uint16_t port_ = 0;
    std::atomic<int> accepted_{0};
    std::thread thread_;
};

} // namespace rd::sim

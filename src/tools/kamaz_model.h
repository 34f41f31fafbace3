// The vehicle check without widgets: START and STOP of its inventory run, the countdown
// its timer drives and the captions of the five fields.
#pragma once

#include <QStringList>

#include <cstdint>

namespace rd {

class KamazModel {
  public:
    // The countdown starts here, and starts over here after 1.
    static constexpr int32_t kCountdownFrom = 5;

    // START (after the run control started the inventory): the countdown starts, the page
    // timer runs, STOP is the button to press.
    void start();
    // STOP (after the run control began stopping the inventory): ready again at once; the
    // run control repeats the stop until the reader confirms it.
    void stop() { running_ = false; }
    // One tick of the page timer: 5, 4, ... 1 and back to 5; nothing reads it yet.
    void tick();

    bool running() const { return running_; }
    int32_t countdown() const { return countdown_; }

    // The five field captions a double-click on the notes puts in: date, time, company,
    // vehicle, registration plate.
    static const QStringList& Captions();

  private:
    bool running_ = false;
    int32_t countdown_ = 0;
};

} // namespace rd

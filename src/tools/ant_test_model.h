// The antenna test without widgets: START begins a test that counts the inventory cycles
// ("START_INVENTORY" answers) and the distinct tag answers ("INV" answers, each whole text
// once) and asks once for the inventory to be stopped when the cycle count reaches the
// set number. Answers that come while a stop of the run is pending count for nothing.
//
// The automatic stop: from the cycle that reaches the count, every cycle asks for the stop
// until the page reports it sent (runStopped); a failed send is thus tried again at the
// next cycle, and a sent stop is never asked for again until the next START.
#pragma once

#include <QSet>
#include <QString>

#include <cstdint>

namespace rd {

class AntTestModel {
  public:
    // What one answer asks of the page.
    struct Outcome {
        bool shown = false;         // the answer goes on to the receive box
        bool cycleCounted = false;  // the cycle count rose
        bool tagAdded = false;      // a tag answer not in the list: it is appended, the tag count rose
        bool stopInventory = false; // stop the inventory run now, then call runStopped()
    };

    // START, with the stop count from its box: the counts and the tag list start empty and
    // the automatic stop is armed.
    void start(int32_t stopCount);
    // The test's inventory run has been stopped (by STOP, or as an answer asked): the
    // automatic stop no longer fires.
    void runStopped() { autoStopArmed_ = false; }
    // One answer text; stopPending: the window is stopping an inventory run.
    Outcome answer(const QString& answer, bool stopPending);
    // The tag list was emptied (a double-click, the start state): tag answers seen before
    // are new again. The counts stay.
    void tagListCleared() { seen_.clear(); }

    // 1 once a test has been started in this run of the program.
    bool started() const { return started_; }
    int32_t cycles() const { return cycles_; }
    int32_t tags() const { return tags_; }
    int32_t stopCount() const { return stopCount_; }
    // From START until the test's inventory has been stopped (automatically or by STOP):
    // the automatic stop fires once per START, so a later inventory begun on another page
    // runs on while its cycles are still counted here.
    bool autoStopArmed() const { return autoStopArmed_; }

    // The count labels: "INV:<cycles>", "TAGs:<tags>".
    QString cycleText() const;
    QString tagText() const;

  private:
    bool started_ = false;
    int32_t cycles_ = 0;
    int32_t tags_ = 0;
    int32_t stopCount_ = 0;
    bool autoStopArmed_ = false;
    QSet<QString> seen_; // the lines of the tag list
};

} // namespace rd

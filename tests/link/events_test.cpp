// Event objects: reset kinds, waits with a time-out, names within the process, wake-up
// signals.
#include "link/events.h"
#include "link/platform.h"

#include <gtest/gtest.h>

#include <chrono>
#include <thread>
#include <utility>

#ifndef _WIN32
#include <fcntl.h>
#include <poll.h>
#include <unistd.h>
#endif

namespace rd {
namespace {

TEST(Event, ResetKinds) {
    const struct {
        bool manual;
        bool initial;
        bool firstWait;
        bool secondWait;
    } rows[] = {
        {true, true, true, true},    // manual: stays set through waits
        {false, true, true, false},  // automatic: the wait that sees it clears it
        {true, false, false, false}, // clear: the wait times out
        {false, false, false, false},
    };
    for (const auto& r : rows) {
        Event e(r.manual, r.initial);
        EXPECT_EQ(e.Wait(0), r.firstWait) << r.manual << r.initial;
        EXPECT_EQ(e.Wait(1), r.secondWait) << r.manual << r.initial;
    }
}

TEST(Event, SetResetAndIsSet) {
    Event e(true, false);
    EXPECT_FALSE(e.IsSet());
    e.Set();
    EXPECT_TRUE(e.IsSet());
    EXPECT_TRUE(e.Wait(0));
    e.Reset();
    EXPECT_FALSE(e.IsSet());
    EXPECT_FALSE(e.Wait(10));
}

TEST(Event, SetFromAnotherThreadEndsTheWait) {
    for (bool manual : {true, false}) {
        Event e(manual, false);
        std::thread setter([&] {
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
            e.Set();
        });
        EXPECT_TRUE(e.Wait(Event::kInfinite));
        setter.join();
        EXPECT_EQ(e.IsSet(), manual);
    }
}

TEST(Event, AutomaticResetReleasesOneWaiterPerSet) {
    Event e(false, false);
    std::atomic<int> woken{0};
    std::thread a([&] { woken += e.Wait(2000) ? 1 : 0; });
    std::thread b([&] { woken += e.Wait(2000) ? 1 : 0; });
    e.Set();
    a.join();
    b.join();
    EXPECT_EQ(woken.load(), 1);
}

TEST(NamedEvent, SameNameSameObject) {
    auto a = CreateNamedEvent("ANSWER STRING READYCOM7", true, false);
    // The flags of an existing event stay as they are.
    auto b = CreateNamedEvent("ANSWER STRING READYCOM7", false, true);
    auto other = CreateNamedEvent("ANSWER STRING READYCOM8", true, false);
    EXPECT_EQ(a, b);
    EXPECT_NE(a, other);
    EXPECT_TRUE(b->manualReset());
    EXPECT_FALSE(b->IsSet());
    a->Set();
    EXPECT_TRUE(b->IsSet());
    EXPECT_FALSE(other->IsSet());

    // Unnamed events are never shared.
    EXPECT_NE(CreateNamedEvent("", true, false), CreateNamedEvent("", true, false));
}

TEST(NamedEvent, GoesWhenTheLastHolderLetsGo) {
    auto first = CreateNamedEvent("DATA FREECOM9", true, true);
    first.reset();
    auto second = CreateNamedEvent("DATA FREECOM9", false, false);
    EXPECT_FALSE(second->IsSet());
    EXPECT_FALSE(second->manualReset());
}

#ifndef _WIN32
// The descriptor of a registered signal, as a poll loop sees it, becomes readable on a Set.
TEST(Event, SetWritesToRegisteredWakeDescriptors) {
    Event e(true, false);
    WakeSignal wake;
    const int fd = wake.fd();
    ASSERT_GE(fd, 0);
    auto readable = [fd] {
        pollfd p{fd, POLLIN, 0};
        return ::poll(&p, 1, 0) == 1;
    };
    e.AddWakeFd(&wake);
    e.Set();
    EXPECT_TRUE(readable());
    uint64_t v = 0;
    ASSERT_EQ(::read(fd, &v, sizeof v), static_cast<ssize_t>(sizeof v));
    e.RemoveWakeFd(&wake);
    e.Set();
    EXPECT_FALSE(readable());
}

// The signal closes its descriptor when it goes; a moved one keeps it, and the one it was
// moved from is not valid and does nothing.
TEST(WakeSignal, ClosesItsDescriptorAndMovesIt) {
    int fd = -1;
    {
        WakeSignal first;
        fd = first.fd();
        ASSERT_GE(fd, 0);
        WakeSignal second(std::move(first));
        EXPECT_FALSE(first.valid());
        EXPECT_EQ(first.fd(), -1);
        first.signal();
        EXPECT_FALSE(first.wait(0));
        EXPECT_EQ(second.fd(), fd);
        second.signal();
        EXPECT_TRUE(second.wait(0));
        WakeSignal third;
        const int replaced = third.fd();
        third = std::move(second);
        EXPECT_EQ(third.fd(), fd);
        EXPECT_EQ(::fcntl(replaced, F_GETFD), -1) << "the one it replaced is closed";
    }
    EXPECT_EQ(::fcntl(fd, F_GETFD), -1) << "closed with the signal";
}
#endif

// The platform's own wake-up signal (an eventfd here, an event object on Windows): a Set
// makes it ready once, a removed one stays quiet, and a wait on a quiet one lasts its time.
TEST(Event, SetSignalsThePlatformWakeUp) {
    using Clock = std::chrono::steady_clock;
    WakeSignal wake;
    ASSERT_TRUE(wake.valid());
    Event e(true, false);
    e.AddWakeFd(&wake);
    e.Set();
    EXPECT_TRUE(wake.wait(0));
    EXPECT_FALSE(wake.wait(0)) << "drained by the wait that saw it";
    e.RemoveWakeFd(&wake);
    e.Set();
    const auto start = Clock::now();
    EXPECT_FALSE(wake.wait(50));
    EXPECT_GE(Clock::now() - start, std::chrono::milliseconds(40));

    // A signal from another thread ends a long wait early.
    std::thread signaller([&wake] {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        wake.signal();
    });
    const auto waited = Clock::now();
    EXPECT_TRUE(wake.wait(10000));
    EXPECT_LT(Clock::now() - waited, std::chrono::milliseconds(5000));
    signaller.join();
}

} // namespace
} // namespace rd

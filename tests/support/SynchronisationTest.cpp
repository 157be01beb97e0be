#include <stdexcept>
#include <string>
#include <thread>

#include <gtest/gtest.h>

#include "support/AutoLock.h"
#include "support/CriticalSection.h"
#include "support/Event.h"
#include "support/Mutex.h"
#include "support/WindowsError.h"
#include "support/WindowsHandle.h"
#include "tests/common/Watchdog.h"

using namespace oryx;

namespace {

constexpr DWORD deadlockLimit = 20000;
// A bound on waits that must succeed; generous, since CI machines stall.
constexpr DWORD patience = 5000;

class Synchronisation : public testing::Test {
protected:
    Watchdog watchdog{deadlockLimit};
};

// Records its calls, and raises from lock or unlock on request.
class CountingLock : public Lockable {
public:
    int locks = 0;
    int unlocks = 0;
    bool failLock = false;
    bool failUnlock = false;

    void lock() override
    {
        if (failLock)
            throw std::runtime_error("lock failed");
        ++locks;
    }
    void unlock() override
    {
        ++unlocks;
        if (failUnlock)
            throw std::runtime_error("unlock failed");
    }
};

bool startsWith(const std::string& text, const std::string& prefix)
{
    return text.compare(0, prefix.size(), prefix) == 0;
}

// Whether another thread gets `lockable` within the patience.
bool anotherThreadCanLock(Lockable& lockable)
{
    Event locked(true, false);
    std::thread other([&] {
        AutoLock lock(lockable);
        locked.set();
    });
    const bool result = locked.wait(patience) == WaitResult::Signalled;
    other.join();
    return result;
}

TEST_F(Synchronisation, AutoLocksNestOnOneCriticalSectionInOneThread)
{
    CriticalSection section;
    {
        AutoLock outer(section);
        {
            AutoLock inner(section);
        }
        AutoLock again(section);
    }
    EXPECT_TRUE(anotherThreadCanLock(section)) << "every nested lock must have been undone";
}

TEST_F(Synchronisation, AReleasedAutoLockDoesNothingMore)
{
    CountingLock lockable;
    {
        AutoLock lock(lockable);
        lock.release();
        EXPECT_EQ(lockable.unlocks, 1);
        lock.release();
    }
    EXPECT_EQ(lockable.locks, 1);
    EXPECT_EQ(lockable.unlocks, 1);
}

TEST_F(Synchronisation, AutoLockHoldsNothingWhenLockingFailsAndSwallowsUnlockFailuresOnDestruction)
{
    CountingLock lockable;
    lockable.failLock = true;
    EXPECT_THROW(AutoLock{lockable}, std::runtime_error);
    EXPECT_EQ(lockable.unlocks, 0);

    lockable.failLock = false;
    lockable.failUnlock = true;
    {
        AutoLock lock(lockable);
    }
    EXPECT_EQ(lockable.unlocks, 1);
    AutoLock explicitRelease(lockable);
    EXPECT_THROW(explicitRelease.release(), std::runtime_error);
    EXPECT_EQ(lockable.unlocks, 2) << "a failed unlock is not tried again by the destructor";
}

// Two threads each add to an unguarded counter under the lock; any lost
// update shows in the total.
void expectMutualExclusion(Lockable& lockable)
{
    constexpr int increments = 20000;
    long counter = 0;
    auto add = [&] {
        for (int i = 0; i < increments; ++i) {
            AutoLock lock(lockable);
            const long seen = counter;
            if (i % 512 == 0)
                SwitchToThread();
            counter = seen + 1;
        }
    };
    std::thread first(add);
    std::thread second(add);
    first.join();
    second.join();
    EXPECT_EQ(counter, 2L * increments);
}

TEST_F(Synchronisation, CriticalSectionsAndMutexesExcludeEachOther)
{
    CriticalSection section;
    expectMutualExclusion(section);
    Mutex mutex(false);
    expectMutualExclusion(mutex);
}

// Whether another thread could take `mutex` at once. It gives the mutex
// back straight away, so asking never blocks either side.
bool freeForAnotherThread(const Mutex& mutex)
{
    bool free = false;
    std::thread other([&] {
        const DWORD result = WaitForSingleObject(mutex.handle(), 0);
        if (result == WAIT_OBJECT_0 || result == WAIT_ABANDONED) {
            free = true;
            ReleaseMutex(mutex.handle());
        }
    });
    other.join();
    return free;
}

TEST_F(Synchronisation, MutexesAreReentrantAndCanBeInitiallyOwned)
{
    Mutex owned(true);
    owned.lock();
    owned.unlock();
    EXPECT_FALSE(freeForAnotherThread(owned)) << "still owned once";
    owned.unlock();
    EXPECT_TRUE(freeForAnotherThread(owned));
    try {
        owned.unlock();
        ADD_FAILURE() << "nothing raised";
    } catch (const WindowsError& e) {
        EXPECT_TRUE(startsWith(e.what(), "Error in ReleaseMutex")) << e.what();
    }
}

TEST_F(Synchronisation, AMutexLeftByAnEndedOwnerIsAbandonedAndCanBeLocked)
{
    Mutex mutex(false);
    std::thread owner([&] { mutex.lock(); });
    owner.join();
    EXPECT_EQ(mutex.wait(patience), WaitResult::Abandoned);
    mutex.unlock();

    std::thread again([&] { mutex.lock(); });
    again.join();
    mutex.lock();
    mutex.unlock();
    EXPECT_TRUE(freeForAnotherThread(mutex));
}

TEST_F(Synchronisation, EventsResetByHandOrByTheWaitTheyRelease)
{
    Event manual(true, true);
    EXPECT_TRUE(manual.isSignalled());
    EXPECT_TRUE(manual.isSignalled()) << "a manual event stays set";
    manual.clear();
    EXPECT_EQ(manual.wait(0), WaitResult::Timeout);

    Event automatic(false, false);
    EXPECT_FALSE(automatic.isSignalled());
    automatic.set();
    EXPECT_TRUE(automatic.isSignalled());
    EXPECT_FALSE(automatic.isSignalled()) << "the wait that saw it cleared it";
}

TEST_F(Synchronisation, HandlesCloseOnceAndTreatZeroAsNoHandle)
{
    WindowsHandle empty;
    EXPECT_FALSE(empty.isValid());
    EXPECT_NO_THROW(empty.close());
    empty.adopt(nullptr);
    EXPECT_FALSE(empty.isValid());
    EXPECT_NO_THROW(empty.close()) << "closing a handle of 0 does nothing";

    const HANDLE event = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    HANDLE duplicate = nullptr;
    ASSERT_TRUE(
        DuplicateHandle(GetCurrentProcess(), event, GetCurrentProcess(), &duplicate, 0, FALSE, DUPLICATE_SAME_ACCESS));
    {
        WindowsHandle owner(duplicate);
        EXPECT_TRUE(owner.isValid());
        SetEvent(event);
        EXPECT_TRUE(owner.isSignalled()) << "both handles name one event";
        owner.close();
        EXPECT_FALSE(owner.isValid());
    }
    EXPECT_TRUE(CloseHandle(event)) << "the original handle was left alone";
}

TEST_F(Synchronisation, ACloseFailureIsRaisedOnceAndSwallowedByTheDestructor)
{
    const HANDLE bogus = reinterpret_cast<HANDLE>(static_cast<ULONG_PTR>(0x7FFC));
    WindowsHandle handle(bogus);
    try {
        handle.close();
        ADD_FAILURE() << "nothing raised";
    } catch (const WindowsError& e) {
        EXPECT_TRUE(startsWith(e.what(), "Error while closing handle")) << e.what();
    }
    EXPECT_FALSE(handle.isValid());
    EXPECT_NO_THROW(handle.close());
    EXPECT_NO_THROW({ WindowsHandle destroyed(bogus); });
}

TEST_F(Synchronisation, WaitRaisesForANonHandle)
{
    WindowsHandle bogus(reinterpret_cast<HANDLE>(static_cast<ULONG_PTR>(0x7FFC)));
    try {
        bogus.wait(0);
        ADD_FAILURE() << "nothing raised";
    } catch (const WindowsError& e) {
        EXPECT_TRUE(startsWith(e.what(), "Error while retrieving handle state")) << e.what();
    }
}

TEST_F(Synchronisation, WaitForAnyReportsWhichHandleEndedTheWait)
{
    Event first(true, false);
    Event second(true, false);
    Mutex abandoned(false);
    std::thread owner([&] { abandoned.lock(); });
    owner.join();

    const HANDLE events[] = {first.handle(), second.handle()};
    MultiWaitResult result = waitForAny(2, events, false, 0);
    EXPECT_EQ(result.result, WaitResult::Timeout);
    EXPECT_EQ(result.index, 0u);

    second.set();
    result = waitForAny(2, events, false, patience);
    EXPECT_EQ(result.result, WaitResult::Signalled);
    EXPECT_EQ(result.index, 1u);
    EXPECT_EQ(waitForAny(2, events, true, 0).result, WaitResult::Timeout) << "not all are set";
    first.set();
    EXPECT_EQ(waitForAny(2, events, false, 0).index, 0u) << "the lowest index wins";

    first.clear();
    second.clear();
    const HANDLE withMutex[] = {first.handle(), abandoned.handle()};
    result = waitForAny(2, withMutex, false, patience);
    EXPECT_EQ(result.result, WaitResult::Abandoned);
    EXPECT_EQ(result.index, 1u);
    abandoned.unlock();

    const HANDLE bogus[] = {reinterpret_cast<HANDLE>(static_cast<ULONG_PTR>(0x7FFC))};
    try {
        waitForAny(1, bogus, false, 0);
        ADD_FAILURE() << "nothing raised";
    } catch (const WindowsError& e) {
        EXPECT_TRUE(startsWith(e.what(), "Multi wait failed")) << e.what();
    }
}

} // namespace

#include <gtest/gtest.h>

#include "support/LocalMemory.h"
#include "support/WindowsError.h"

using namespace oryx;

namespace {

TEST(LocalMemory, FixedMemoryIsItsOwnAddressAndNeverLocked)
{
    HLOCAL block = LocalAlloc(LMEM_FIXED, 16);
    ASSERT_NE(block, nullptr);
    LocalMemory memory(block, false);
    EXPECT_EQ(memory.lock(), block);
    EXPECT_FALSE(memory.unlock());
    EXPECT_NO_THROW(memory.free());
}

TEST(LocalMemory, CountsTheLocksOfMovableMemory)
{
    HLOCAL block = LocalAlloc(LMEM_MOVEABLE, 16);
    ASSERT_NE(block, nullptr);
    LocalMemory memory(block, true);
    void* first = memory.lock();
    EXPECT_EQ(memory.lock(), first);
    EXPECT_EQ(memory.flags() & LMEM_LOCKCOUNT, 2u);
    EXPECT_TRUE(memory.unlock()) << "one lock is still held";
    EXPECT_FALSE(memory.unlock());
    EXPECT_EQ(memory.flags() & LMEM_LOCKCOUNT, 0u);
}

TEST(LocalMemory, UnlocksEveryOutstandingLockBeforeFreeing)
{
    HLOCAL block = LocalAlloc(LMEM_MOVEABLE, 16);
    ASSERT_NE(block, nullptr);
    LocalMemory memory(block, true);
    memory.lock();
    memory.lock();
    EXPECT_NO_THROW(memory.free());
    EXPECT_NO_THROW(memory.free()) << "a second free has nothing to do";
}

} // namespace

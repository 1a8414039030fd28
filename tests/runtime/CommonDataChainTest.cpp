#include "runtime/CommonDataChain.h"

#include <gtest/gtest.h>

#include <numeric>
#include <string>
#include <vector>

static std::vector<uint32_t> BlockLengths(const CommonDataChain* chain)
{
    std::vector<uint32_t> lens;
    for (; chain; chain = chain->next) lens.push_back(chain->len);
    return lens;
}

TEST(CommonDataChain, AppendsSplitAtBlockBoundaries)
{
    struct Case {
        std::vector<uint32_t> appends;
        std::vector<uint32_t> blocks;
    } cases[] = {
        {{}, {0}},
        {{0}, {0}},
        {{5120}, {5120}},
        {{5120, 1}, {5120, 1}},
        {{3000, 3000}, {5120, 880}},
        {{5120, 5120, 5120}, {5120, 5120, 5120}},
        {{1, 5120}, {5120, 1}},
    };
    for (const Case& c : cases) {
        CommonDataChain* chain = CommonDataChain_Alloc();
        std::string expected;
        for (uint32_t n : c.appends) {
            std::string bytes(n, '\0');
            for (uint32_t i = 0; i < n; ++i) bytes[i] = static_cast<char>('a' + (expected.size() + i) % 26);
            ASSERT_EQ(0, CommonDataChain_Append(chain, bytes.data(), n));
            expected += bytes;
        }
        EXPECT_EQ(c.blocks, BlockLengths(chain));
        std::string got;
        for (CommonDataChain* b = chain; b; b = b->next) got.append(reinterpret_cast<char*>(b->data), b->len);
        EXPECT_EQ(expected, got);
        CommonDataChain_Free(chain);
    }
}

TEST(CommonDataChain, OversizedAppendIsRefusedAndChangesNothing)
{
    CommonDataChain* chain = CommonDataChain_Alloc();
    ASSERT_EQ(0, CommonDataChain_AppendString(chain, "abc"));
    std::string big(5121, 'x');
    testing::internal::CaptureStdout();
    EXPECT_EQ(-1, CommonDataChain_Append(chain, big.data(), 5121));
    // The refusal is a daily-log line only: a console write could stall the caller.
    EXPECT_EQ("", testing::internal::GetCapturedStdout());
    EXPECT_EQ(std::vector<uint32_t>{3}, BlockLengths(chain));
    EXPECT_EQ(-1, CommonDataChain_Append(nullptr, "a", 1));
    EXPECT_EQ(-1, CommonDataChain_AppendString(chain, nullptr));
    CommonDataChain_Free(chain);
}

TEST(CommonDataChain, AppendAllTakesAnyLengthAndCopyIsDeep)
{
    CommonDataChain* chain = CommonDataChain_Alloc();
    std::string bytes(12000, 'q');
    ASSERT_EQ(0, CommonDataChain_AppendAll(chain, bytes.data(), bytes.size()));
    EXPECT_EQ((std::vector<uint32_t>{5120, 5120, 1760}), BlockLengths(chain));
    std::vector<uint32_t> lengths = BlockLengths(chain);
    EXPECT_EQ(12000u, std::accumulate(lengths.begin(), lengths.end(), 0u));

    CommonDataChain* copy = CommonDataChain_Copy(chain);
    EXPECT_EQ(BlockLengths(chain), BlockLengths(copy));
    copy->data[0] = 'z';
    EXPECT_EQ('q', chain->data[0]);
    EXPECT_EQ(nullptr, CommonDataChain_Copy(nullptr));
    CommonDataChain_Free(copy);
    CommonDataChain_Free(chain);
}

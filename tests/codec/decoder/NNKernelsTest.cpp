// Every vector kernel the machine can run gives exactly the plain loops'
// results, including where sums and coefficients wrap.
#include "dsp/NNFilter.h"
#include "dsp/NNKernels.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <vector>

TEST(NNKernels, VectorKernelsAgreeWithThePlainLoopsIncludingWraparound)
{
    std::vector<const ape::NNKernels*> kernels;
    for (const ape::NNKernels* k : {ape::sse2NNKernels(), ape::avx2NNKernels(), ape::avx512NNKernels()})
        if (k)
            kernels.push_back(k);
    if (kernels.empty())
        GTEST_SKIP() << "no vector kernels on this machine";
    const ape::NNKernels& plain = ape::scalarNNKernels();
    std::mt19937 random(31337);
    for (int order : {16, 32, 256, 1280}) {
        for (int trial = 0; trial < 20; ++trial) {
            // Odd trials use extreme values only, so that sums and coefficients wrap.
            auto value = [&] {
                return trial % 2 ? std::int16_t((random() & 1) ? 32767 : -32768) : std::int16_t(random());
            };
            std::vector<std::int16_t> coef(std::size_t(order) + 1), hist(std::size_t(order) + 1),
                adapt(std::size_t(order) + 1);
            for (std::size_t j = 0; j < coef.size(); ++j) {
                coef[j] = value();
                hist[j] = value();
                adapt[j] = value();
            }
            // Start one element in, as the sliding windows do.
            const int direction = int(random() % 3) - 1;
            std::vector<std::int16_t> expectCoef = coef;
            std::int32_t expectDot =
                plain.dotAndAdapt(expectCoef.data() + 1, hist.data() + 1, adapt.data() + 1, order, direction);
            for (const ape::NNKernels* k : kernels) {
                SCOPED_TRACE(k->name);
                std::vector<std::int16_t> c = coef;
                EXPECT_EQ(k->dotAndAdapt(c.data() + 1, hist.data() + 1, adapt.data() + 1, order, direction), expectDot);
                EXPECT_EQ(c, expectCoef);
                c = coef;
                EXPECT_EQ(k->dot(c.data() + 1, hist.data() + 1, order), expectDot);
                k->adapt(c.data() + 1, adapt.data() + 1, order, direction);
                EXPECT_EQ(c, expectCoef);
            }
        }
    }
}

// The whole decoding loops, specialised per order, against the plain one:
// every order in use and one that is not (the generic loop), both
// adaptation rules, runs that cross the windows' slide, zero residuals
// (no adaptation) and residuals large enough to clip the history.
TEST(NNKernels, VectorDecodingLoopsAgreeWithThePlainLoopAtEveryOrder)
{
    std::vector<const ape::NNKernels*> kernels;
    for (const ape::NNKernels* k : {ape::sse2NNKernels(), ape::avx2NNKernels(), ape::avx512NNKernels()})
        if (k)
            kernels.push_back(k);
    if (kernels.empty())
        GTEST_SKIP() << "no vector kernels on this machine";
    std::mt19937 random(15);
    for (int order : {16, 32, 48, 64, 256, 1280}) {
        for (auto adaptation : {ape::NNAdaptation::new3980, ape::NNAdaptation::old3930}) {
            std::vector<std::int32_t> residuals(1500);
            for (auto& r : residuals) {
                const unsigned kind = random() % 8;
                r = kind == 0 ? 0 : kind == 1 ? std::int32_t(random()) : std::int32_t(random() % 4001) - 2000;
            }
            ape::NNFilter plain(order, 11, adaptation, ape::scalarNNKernels());
            plain.reset();
            std::vector<std::int32_t> expected = residuals;
            for (std::size_t at = 0; at < expected.size(); at += 700)
                plain.decode(expected.data() + at, std::min<std::size_t>(700, expected.size() - at));
            for (const ape::NNKernels* k : kernels) {
                SCOPED_TRACE(testing::Message() << k->name << " order " << order << " adaptation " << int(adaptation));
                ape::NNFilter vector(order, 11, adaptation, *k);
                vector.reset();
                std::vector<std::int32_t> values = residuals;
                for (std::size_t at = 0; at < values.size(); at += 700)
                    vector.decode(values.data() + at, std::min<std::size_t>(700, values.size() - at));
                EXPECT_TRUE(values == expected);
            }
        }
    }
}

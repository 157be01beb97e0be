// Every vector kernel the machine can run gives exactly the plain loops'
// results, including where sums and coefficients wrap.
#include "dsp/NNFilter.h"
#include "dsp/NNKernels.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <random>
#include <utility>
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

// The coefficients and windows share one allocation: no two regions may
// overlap, and each window sits at its distance past the coefficients
// modulo 4 KB (which keeps its loads clear of the coefficient stores).
TEST(NNKernels, WindowsLieApartAtTheirPlacesPastTheCoefficients)
{
    for (int order : {16, 48, 256, 1280}) {
        SCOPED_TRACE(testing::Message() << "order " << order);
        ape::NNFilter moved(order, 11, ape::NNAdaptation::new3980);
        const ape::NNRunState before = moved.runState();
        ape::NNFilter filter(std::move(moved));
        const ape::NNRunState s = filter.runState();
        EXPECT_EQ(s.hist, before.hist);
        EXPECT_EQ(s.narrowAdapt, before.narrowAdapt);
        const auto at = [&s](const void* p) {
            return reinterpret_cast<std::uintptr_t>(p) - reinterpret_cast<std::uintptr_t>(s.coef);
        };
        EXPECT_EQ(reinterpret_cast<std::uintptr_t>(s.coef) % 64, 0u);
        const std::uintptr_t window = std::uintptr_t(order + 512);
        std::vector<std::pair<std::uintptr_t, std::uintptr_t>> regions{{0, 2 * std::uintptr_t(order)},
                                                                       {at(s.hist), 2 * window},
                                                                       {at(s.adapt), 2 * window},
                                                                       {at(s.negatedAdapt), 2 * window}};
        EXPECT_EQ(at(s.hist) % 4096, 64u);
        EXPECT_EQ(at(s.adapt) % 4096, 320u);
        EXPECT_EQ(at(s.negatedAdapt) % 4096, 576u);
        if (order >= 1024) {
            ASSERT_NE(s.narrowAdapt, nullptr);
            EXPECT_EQ(at(s.narrowAdapt) % 4096, 1024u);
            regions.emplace_back(at(s.narrowAdapt), window);
        } else {
            EXPECT_EQ(s.narrowAdapt, nullptr);
        }
        std::sort(regions.begin(), regions.end());
        for (std::size_t i = 1; i < regions.size(); ++i)
            EXPECT_LE(regions[i - 1].first + regions[i - 1].second, regions[i].first);
    }
}

// Every vector kernel the machine can run gives exactly the plain loops'
// results, including where sums and coefficients wrap.
#include "format/NNKernels.h"

#include <gtest/gtest.h>

#include <random>
#include <vector>

TEST(NNKernels, VectorKernelsAgreeWithThePlainLoopsIncludingWraparound)
{
    std::vector<const ape::NNKernels*> kernels;
    for (const ape::NNKernels* k : {ape::sse2NNKernels(), ape::avx2NNKernels()})
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
                return trial % 2 ? int16_t((random() & 1) ? 32767 : -32768) : int16_t(random());
            };
            std::vector<int16_t> coef(size_t(order) + 1), hist(size_t(order) + 1), adapt(size_t(order) + 1);
            for (size_t j = 0; j < coef.size(); ++j) {
                coef[j] = value();
                hist[j] = value();
                adapt[j] = value();
            }
            // Start one element in, as the sliding windows do.
            const int direction = int(random() % 3) - 1;
            std::vector<int16_t> expectCoef = coef;
            int32_t expectDot = plain.dotAndAdapt(expectCoef.data() + 1, hist.data() + 1, adapt.data() + 1, order, direction);
            for (const ape::NNKernels* k : kernels) {
                SCOPED_TRACE(k->name);
                std::vector<int16_t> c = coef;
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

#include "Predictor3950.h"

namespace ape {
namespace {

// Wrapping arithmetic on 64-bit values (unsigned underneath, so never undefined).
int64_t add(int64_t a, int64_t b) { return int64_t(uint64_t(a) + uint64_t(b)); }
int64_t sub(int64_t a, int64_t b) { return int64_t(uint64_t(a) - uint64_t(b)); }
int64_t mul(int64_t a, int64_t b) { return int64_t(uint64_t(a) * uint64_t(b)); }

// In 32-bit width every intermediate is reduced modulo 2^32.
template <PredictorWidth W> int64_t fit(int64_t v)
{
    if constexpr (W == PredictorWidth::wrap32)
        return int32_t(uint32_t(uint64_t(v)));
    else
        return v;
}

int sign32(int64_t v)
{
    int32_t t = int32_t(uint32_t(uint64_t(v)));
    return (t > 0) - (t < 0);
}

} // namespace

void Predictor3950::reset()
{
    y_ = Channel{};
    x_ = Channel{};
}

template <PredictorWidth W> inline int64_t Predictor3950::step(Channel& c, int32_t input, int64_t other)
{
    c.rA[3] = c.rA[2];
    c.rA[2] = c.rA[1];
    c.rA[1] = fit<W>(sub(c.lastA, c.rA[0]));
    c.rA[0] = c.lastA;

    int64_t b0 = fit<W>(sub(other, fit<W>(mul(31, c.filterB)) >> 5));
    c.rB[4] = c.rB[3];
    c.rB[3] = c.rB[2];
    c.rB[2] = c.rB[1];
    c.rB[1] = fit<W>(sub(b0, c.rB[0]));
    c.rB[0] = b0;
    c.filterB = other;

    int64_t pA = 0, pB = 0;
    for (int i = 0; i < 4; ++i)
        pA = add(pA, mul(c.rA[i], c.cA[i]));
    for (int i = 0; i < 5; ++i)
        pB = add(pB, mul(c.rB[i], c.cB[i]));
    int64_t total = fit<W>(add(fit<W>(pA), fit<W>(pB) >> 1));
    c.lastA = fit<W>(add(input, total >> 10));
    c.filterA = fit<W>(add(c.lastA, fit<W>(mul(31, c.filterA)) >> 5));

    int s = (input > 0) - (input < 0);
    for (int i = 0; i < 4; ++i)
        c.cA[i] += sign32(c.rA[i]) * s;
    for (int i = 0; i < 5; ++i)
        c.cB[i] += sign32(c.rB[i]) * s;
    return c.filterA;
}

template <PredictorWidth W>
void Predictor3950::stereo(const int32_t* slot0, const int32_t* slot1, int32_t* y, int32_t* x, size_t count)
{
    for (size_t i = 0; i < count; ++i) {
        int64_t outY = step<W>(y_, slot0[i], x_.filterA);
        int64_t outX = step<W>(x_, slot1[i], outY);
        y[i] = int32_t(uint32_t(uint64_t(outY)));
        x[i] = int32_t(uint32_t(uint64_t(outX)));
    }
}

template void Predictor3950::stereo<PredictorWidth::wrap32>(const int32_t*, const int32_t*, int32_t*, int32_t*, size_t);
template void Predictor3950::stereo<PredictorWidth::exact64>(const int32_t*, const int32_t*, int32_t*, int32_t*, size_t);

void Predictor3950::mono(int32_t* values, size_t count)
{
    Channel& c = y_;
    for (size_t i = 0; i < count; ++i) {
        int32_t input = values[i];
        c.rA[3] = c.rA[2];
        c.rA[2] = c.rA[1];
        c.rA[1] = fit<PredictorWidth::wrap32>(sub(c.lastA, c.rA[0]));
        c.rA[0] = c.lastA;
        int64_t pA = 0;
        for (int k = 0; k < 4; ++k)
            pA = add(pA, mul(c.rA[k], c.cA[k]));
        pA = fit<PredictorWidth::wrap32>(pA);
        c.lastA = fit<PredictorWidth::wrap32>(add(input, pA >> 10));
        c.filterA = fit<PredictorWidth::wrap32>(add(c.lastA, fit<PredictorWidth::wrap32>(mul(31, c.filterA)) >> 5));
        int s = (input > 0) - (input < 0);
        for (int k = 0; k < 4; ++k)
            c.cA[k] += sign32(c.rA[k]) * s;
        values[i] = int32_t(c.filterA);
    }
}

} // namespace ape

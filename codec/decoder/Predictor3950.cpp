#include "decoder/Predictor3950.h"

#include "decoder/Predictor3950Sse2.h"
#include "dsp/PredictorArithmetic.h"

namespace ape {
namespace {

// Arithmetic that wraps in the storage type (computed unsigned, so never
// undefined), with the signed shift the format uses.
template <class T>
struct Ops;

template <>
struct Ops<std::int32_t> {
    static std::int32_t add(std::int32_t a, std::int32_t b) { return wrapAdd(a, b); }
    static std::int32_t sub(std::int32_t a, std::int32_t b) { return wrapSub(a, b); }
    static std::int32_t mul(std::int32_t a, std::int32_t b) { return wrapMul(a, b); }
};

template <>
struct Ops<std::int64_t> {
    static std::int64_t add(std::int64_t a, std::int64_t b)
    {
        return std::int64_t(std::uint64_t(a) + std::uint64_t(b));
    }
    static std::int64_t sub(std::int64_t a, std::int64_t b)
    {
        return std::int64_t(std::uint64_t(a) - std::uint64_t(b));
    }
    static std::int64_t mul(std::int64_t a, std::int64_t b)
    {
        return std::int64_t(std::uint64_t(a) * std::uint64_t(b));
    }
};

// 32-bit wrapping arithmetic that notes whether any result wrapped. While
// none did, every value equals what exact 64-bit arithmetic computes, so one
// pass answers for both widths.
struct CheckedOps32 {
    bool wrapped = false;
    std::int32_t add(std::int32_t a, std::int32_t b)
    {
        std::int32_t r;
        wrapped |= __builtin_add_overflow(a, b, &r);
        return r;
    }
    std::int32_t sub(std::int32_t a, std::int32_t b)
    {
        std::int32_t r;
        wrapped |= __builtin_sub_overflow(a, b, &r);
        return r;
    }
    std::int32_t mul(std::int32_t a, std::int32_t b)
    {
        std::int32_t r;
        wrapped |= __builtin_mul_overflow(a, b, &r);
        return r;
    }
};

// The sign of a register, taken from its low 32 bits.
template <class T>
int sign32(T v)
{
    return sgn(std::int32_t(std::uint32_t(v)));
}

template <class T>
using Channel = Predictor3950::Channel<T>;

template <class To, class From>
Channel<To> convert(const Channel<From>& c)
{
    Channel<To> out;
    out.lastA = To(c.lastA);
    out.filterA = To(c.filterA);
    out.filterB = To(c.filterB);
    for (int i = 0; i < 4; ++i) {
        out.cA[i] = c.cA[i];
        out.rA[i] = To(c.rA[i]);
    }
    for (int i = 0; i < 5; ++i) {
        out.cB[i] = c.cB[i];
        out.rB[i] = To(c.rB[i]);
    }
    return out;
}

template <class T, class O>
inline __attribute__((always_inline)) T stereoStep(Channel<T>& c, std::int32_t input, T other, O& o)
{
    c.rA[3] = c.rA[2];
    c.rA[2] = c.rA[1];
    c.rA[1] = o.sub(c.lastA, c.rA[0]);
    c.rA[0] = c.lastA;

    T b0 = o.sub(other, o.mul(31, c.filterB) >> 5);
    c.rB[4] = c.rB[3];
    c.rB[3] = c.rB[2];
    c.rB[2] = c.rB[1];
    c.rB[1] = o.sub(b0, c.rB[0]);
    c.rB[0] = b0;
    c.filterB = other;

    T pA = o.add(o.add(o.mul(c.rA[0], c.cA[0]), o.mul(c.rA[1], c.cA[1])),
                 o.add(o.mul(c.rA[2], c.cA[2]), o.mul(c.rA[3], c.cA[3])));
    T pB = o.add(o.add(o.add(o.mul(c.rB[0], c.cB[0]), o.mul(c.rB[1], c.cB[1])),
                       o.add(o.mul(c.rB[2], c.cB[2]), o.mul(c.rB[3], c.cB[3]))),
                 o.mul(c.rB[4], c.cB[4]));
    c.lastA = o.add(input, o.add(pA, pB >> 1) >> 10);
    c.filterA = o.add(c.lastA, o.mul(31, c.filterA) >> 5);

    int s = sgn(input);
    for (int i = 0; i < 4; ++i)
        c.cA[i] += sign32(c.rA[i]) * s;
    for (int i = 0; i < 5; ++i)
        c.cB[i] += sign32(c.rB[i]) * s;
    return c.filterA;
}

template <class T, class O>
void stereoRun(Channel<T>& y, Channel<T>& x, const std::int32_t* slot0, const std::int32_t* slot1, std::int32_t* outY,
               std::int32_t* outX, std::size_t count, O& o)
{
    for (std::size_t i = 0; i < count; ++i) {
        T valueY = stereoStep<T>(y, slot0[i], x.filterA, o);
        T valueX = stereoStep<T>(x, slot1[i], valueY, o);
        outY[i] = std::int32_t(std::uint32_t(valueY));
        outX[i] = std::int32_t(std::uint32_t(valueX));
    }
}

} // namespace

void Predictor3950::reset()
{
    yChannel = Channel<std::int64_t>{};
    xChannel = Channel<std::int64_t>{};
}

template <PredictorWidth W>
void Predictor3950::stereo(const std::int32_t* slot0, const std::int32_t* slot1, std::int32_t* y, std::int32_t* x,
                           std::size_t count)
{
    if constexpr (W == PredictorWidth::wrap32) {
        static const Stereo32Run vectorRun = vectorStereo32Run();
        auto y32 = convert<std::int32_t>(yChannel);
        auto x32 = convert<std::int32_t>(xChannel);
        if (vectorRun) {
            vectorRun(y32, x32, slot0, slot1, y, x, count);
        } else {
            Ops<std::int32_t> o;
            stereoRun(y32, x32, slot0, slot1, y, x, count, o);
        }
        yChannel = convert<std::int64_t>(y32);
        xChannel = convert<std::int64_t>(x32);
    } else {
        Ops<std::int64_t> o;
        stereoRun(yChannel, xChannel, slot0, slot1, y, x, count, o);
    }
}

template <class Values>
bool Predictor3950::decodeStereo32(RangeDecoder& rc, StreamState* streams, NNRunState* filters, std::int32_t* y,
                                   std::int32_t* x, std::size_t count)
{
    const DecodingStereo32Run<Values> run = vectorDecodingStereo32Run<Values>(filters ? filters->order : 0);
    if (!run)
        return false;
    auto y32 = convert<std::int32_t>(yChannel);
    auto x32 = convert<std::int32_t>(xChannel);
    run(rc, streams, filters, y32, x32, y, x, count);
    yChannel = convert<std::int64_t>(y32);
    xChannel = convert<std::int64_t>(x32);
    return true;
}

template <class Values>
bool Predictor3950::decodeStereoInBothWidths(RangeDecoder& rc, StreamState* streams, NNRunState* filters,
                                             std::int32_t* slot0, std::int32_t* slot1, std::int32_t* y, std::int32_t* x,
                                             std::size_t count, bool& fits)
{
    const CheckedDecodingStereo32Run<Values> run =
        vectorCheckedDecodingStereo32Run<Values>(filters ? filters->order : 0);
    if (!run)
        return false;
    auto y32 = convert<std::int32_t>(yChannel);
    auto x32 = convert<std::int32_t>(xChannel);
    fits = run(rc, streams, filters, y32, x32, slot0, slot1, y, x, count);
    yChannel = convert<std::int64_t>(y32);
    xChannel = convert<std::int64_t>(x32);
    return true;
}

template bool Predictor3950::decodeStereoInBothWidths<PivotValues>(RangeDecoder&, StreamState*, NNRunState*,
                                                                   std::int32_t*, std::int32_t*, std::int32_t*,
                                                                   std::int32_t*, std::size_t, bool&);
template bool Predictor3950::decodeStereoInBothWidths<KValues<true>>(RangeDecoder&, StreamState*, NNRunState*,
                                                                     std::int32_t*, std::int32_t*, std::int32_t*,
                                                                     std::int32_t*, std::size_t, bool&);

template bool Predictor3950::decodeStereo32<PivotValues>(RangeDecoder&, StreamState*, NNRunState*, std::int32_t*,
                                                         std::int32_t*, std::size_t);
template bool Predictor3950::decodeStereo32<KValues<true>>(RangeDecoder&, StreamState*, NNRunState*, std::int32_t*,
                                                           std::int32_t*, std::size_t);

bool Predictor3950::stereoInBothWidths(const std::int32_t* slot0, const std::int32_t* slot1, std::int32_t* y,
                                       std::int32_t* x, std::size_t count, bool exactWatch)
{
    static const CheckedStereo32Run vectorRun = vectorCheckedStereo32Run();
    auto y32 = convert<std::int32_t>(yChannel);
    auto x32 = convert<std::int32_t>(xChannel);
    bool fits;
    if (vectorRun && !exactWatch) {
        fits = vectorRun(y32, x32, slot0, slot1, y, x, count);
    } else {
        CheckedOps32 o;
        stereoRun(y32, x32, slot0, slot1, y, x, count, o);
        fits = !o.wrapped;
    }
    yChannel = convert<std::int64_t>(y32);
    xChannel = convert<std::int64_t>(x32);
    return fits;
}

void Predictor3950::decodeFilterStereo32(RangeDecoder& rc, StreamState* streams, NNRunState* first, NNRunState* second,
                                         NNRunState* last, std::int32_t* slot0, std::int32_t* slot1, std::int32_t* y,
                                         std::int32_t* x, std::size_t count, bool* fits)
{
    auto y32 = convert<std::int32_t>(yChannel);
    auto x32 = convert<std::int32_t>(xChannel);
    const bool held = decodingFilteringStereo32Run(first->order, last->order, fits != nullptr)(
        rc, streams, first, second, last, y32, x32, slot0, slot1, y, x, count);
    if (fits)
        *fits = held;
    yChannel = convert<std::int64_t>(y32);
    xChannel = convert<std::int64_t>(x32);
}

void Predictor3950::decodeFilterMono32(RangeDecoder& rc, StreamState& stream, NNRunState* first, NNRunState* second,
                                       NNRunState* last, std::int32_t* out, std::size_t count)
{
    auto c = convert<std::int32_t>(yChannel);
    decodingFilteringMono32Run(first->order, last->order)(rc, &stream, first, second, last, c, out, count);
    yChannel = convert<std::int64_t>(c);
}

bool Predictor3950::fitsIn32Bits() const
{
    auto fits = [](const Channel<std::int64_t>& c) {
        auto in = [](std::int64_t v) { return v == std::int64_t(std::int32_t(v)); };
        bool all = in(c.lastA) && in(c.filterA) && in(c.filterB);
        for (std::int64_t r : c.rA)
            all = all && in(r);
        for (std::int64_t r : c.rB)
            all = all && in(r);
        return all;
    };
    return fits(yChannel) && fits(xChannel);
}

template void Predictor3950::stereo<PredictorWidth::wrap32>(const std::int32_t*, const std::int32_t*, std::int32_t*,
                                                            std::int32_t*, std::size_t);
template void Predictor3950::stereo<PredictorWidth::exact64>(const std::int32_t*, const std::int32_t*, std::int32_t*,
                                                             std::int32_t*, std::size_t);

namespace {

// The mono step over `count` inputs that `input(i)` supplies.
template <class Input>
void monoRun(Channel<std::int32_t>& c, Input input, std::int32_t* out, std::size_t count)
{
    using O = Ops<std::int32_t>;
    for (std::size_t i = 0; i < count; ++i) {
        const std::int32_t value = input(i);
        c.rA[3] = c.rA[2];
        c.rA[2] = c.rA[1];
        c.rA[1] = O::sub(c.lastA, c.rA[0]);
        c.rA[0] = c.lastA;
        std::int32_t pA = O::add(O::add(O::mul(c.rA[0], c.cA[0]), O::mul(c.rA[1], c.cA[1])),
                                 O::add(O::mul(c.rA[2], c.cA[2]), O::mul(c.rA[3], c.cA[3])));
        c.lastA = O::add(value, pA >> 10);
        c.filterA = O::add(c.lastA, O::mul(31, c.filterA) >> 5);
        int s = sgn(value);
        for (int k = 0; k < 4; ++k)
            c.cA[k] += sign32(c.rA[k]) * s;
        out[i] = c.filterA;
    }
}

} // namespace

void Predictor3950::mono(std::int32_t* values, std::size_t count)
{
    auto c = convert<std::int32_t>(yChannel);
    monoRun(
        c, [values](std::size_t i) { return values[i]; }, values, count);
    yChannel = convert<std::int64_t>(c);
}

template <class Values>
bool Predictor3950::decodeMono(RangeDecoder& rc, StreamState& stream, NNRunState* first, std::int32_t* out,
                               std::size_t count)
{
    const DecodingMono32Run<Values> vectorRun = vectorDecodingMono32Run<Values>(first ? first->order : 0);
    if (!vectorRun && first)
        return false;
    auto c = convert<std::int32_t>(yChannel);
    if (vectorRun) {
        vectorRun(rc, stream, first, c, out, count);
    } else {
        RangeDecoder local = rc;
        StreamState s = stream;
        monoRun(
            c, [&](std::size_t) { return Values::decodeInline(local, s); }, out, count);
        rc = local;
        stream = s;
    }
    yChannel = convert<std::int64_t>(c);
    return true;
}
template bool Predictor3950::decodeMono<PivotValues>(RangeDecoder&, StreamState&, NNRunState*, std::int32_t*,
                                                     std::size_t);
template bool Predictor3950::decodeMono<KValues<true>>(RangeDecoder&, StreamState&, NNRunState*, std::int32_t*,
                                                       std::size_t);

} // namespace ape

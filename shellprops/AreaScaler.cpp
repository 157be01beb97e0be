#include "shellprops/AreaScaler.h"

#include <algorithm>
#include <cmath>
#include <vector>

namespace {

constexpr std::size_t channels = 4; // blue, green, red, alpha

// The source pixels an output pixel covers along one axis, with the part
// of each that lies inside it (the parts sum to the scale factor).
struct Span {
    std::uint32_t first = 0;
    std::vector<double> weights;
};

std::vector<Span> spans(std::uint32_t sourceSize, std::uint32_t targetSize)
{
    const double step = double(sourceSize) / targetSize;
    std::vector<Span> result(targetSize);
    for (std::uint32_t i = 0; i < targetSize; ++i) {
        const double begin = i * step;
        const double end = std::min(double(sourceSize), (i + 1) * step);
        Span& span = result[i];
        span.first = static_cast<std::uint32_t>(begin);
        for (std::uint32_t s = span.first; s < sourceSize && s < end; ++s)
            span.weights.push_back(std::min(end, s + 1.0) - std::max(begin, double(s)));
    }
    return result;
}

} // namespace

void AreaScaler::scale(const std::uint8_t* source, std::uint32_t sourceWidth, std::uint32_t sourceHeight,
                       std::uint8_t* target, std::uint32_t targetWidth, std::uint32_t targetHeight,
                       std::size_t targetStride)
{
    const std::vector<Span> columns = spans(sourceWidth, targetWidth);
    const std::vector<Span> rows = spans(sourceHeight, targetHeight);
    const std::size_t sourceStride = std::size_t{sourceWidth} * channels;
    for (std::uint32_t y = 0; y < targetHeight; ++y) {
        std::uint8_t* out = target + targetStride * y;
        for (std::uint32_t x = 0; x < targetWidth; ++x, out += channels) {
            double sums[channels] = {};
            double area = 0;
            for (std::size_t r = 0; r < rows[y].weights.size(); ++r) {
                const std::uint8_t* in = source + sourceStride * (rows[y].first + r) + channels * columns[x].first;
                for (std::size_t c = 0; c < columns[x].weights.size(); ++c, in += channels) {
                    const double weight = rows[y].weights[r] * columns[x].weights[c];
                    const double alphaWeight = weight * in[3];
                    sums[0] += alphaWeight * in[0];
                    sums[1] += alphaWeight * in[1];
                    sums[2] += alphaWeight * in[2];
                    sums[3] += alphaWeight;
                    area += weight;
                }
            }
            for (std::size_t c = 0; c < 3; ++c)
                out[c] = sums[3] > 0 ? static_cast<std::uint8_t>(std::lround(sums[c] / sums[3])) : 0;
            out[3] = static_cast<std::uint8_t>(std::lround(sums[3] / area));
        }
    }
}

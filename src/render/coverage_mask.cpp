#include "render/coverage_mask.hpp"

#include <cstring>

namespace pp {
namespace {

// Full runs shorter than this are kept in a partial span: a blend of a few pixels costs less than
// another span.
constexpr int MIN_FULL = 8;
// Partial stretches closer than this are one span.
constexpr int JOIN_GAP = 8;

constexpr std::uint64_t ALL_FULL = ~std::uint64_t{0};

std::uint64_t eightBytes(const std::uint8_t* p)
{
    std::uint64_t v;
    std::memcpy(&v, p, sizeof v);
    return v;
}

// The end of the run of `value` starting at `x` in `cov` (of `width` bytes): eight bytes at a time.
int runEnd(const std::uint8_t* cov, int x, int width, std::uint8_t value)
{
    const std::uint64_t eight = value == 0 ? 0 : ALL_FULL;
    while (x + 8 <= width && eightBytes(cov + x) == eight) x += 8;
    while (x < width && cov[x] == value) ++x;
    return x;
}

// Appends the spans of one coverage row (`width` bytes, the first at frame column `x0`), and the
// coverage of its partly covered spans to `partial`.
void appendSpans(const std::uint8_t* cov, int width, int x0, std::vector<CoverageSpan>& out,
                 std::vector<std::uint8_t>& partial)
{
    int partialFrom = -1, partialTo = -1;  // the open partial span, in mask columns
    auto closePartial = [&] {
        if (partialFrom < 0) return;
        out.push_back({x0 + partialFrom, x0 + partialTo, false, static_cast<std::uint32_t>(partial.size())});
        partial.insert(partial.end(), cov + partialFrom, cov + partialTo);
        partialFrom = -1;
    };
    for (int x = 0; x < width;) {
        if (cov[x] == 0) {
            const int end = runEnd(cov, x, width, 0);
            if (end - x >= JOIN_GAP || end == width) closePartial();
            x = end;
            continue;
        }
        const int end = cov[x] == 255 ? runEnd(cov, x, width, 255) : x + 1;
        if (cov[x] == 255 && end - x >= MIN_FULL) {
            closePartial();
            out.push_back({x0 + x, x0 + end, true, 0});
        } else {
            if (partialFrom < 0) partialFrom = x;
            partialTo = end;
        }
        x = end;
    }
    closePartial();
}

}  // namespace

void CoverageMask::findSpans()
{
    spanList.clear();
    rowStarts.clear();
    partial.clear();
    if (empty()) return;
    rowStarts.reserve(static_cast<std::size_t>(height) + 1);
    for (int r = 0; r < height; ++r) {
        rowStarts.push_back(static_cast<std::uint32_t>(spanList.size()));
        appendSpans(alpha.data() + static_cast<std::size_t>(r) * stride, width, x, spanList, partial);
    }
    rowStarts.push_back(static_cast<std::uint32_t>(spanList.size()));
}

}  // namespace pp

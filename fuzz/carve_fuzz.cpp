// The carving scanner on any bytes: whatever runs the space is fed in, it
// finds the same records and compound headers as fed whole, each inside
// the space and each passing the check again on its own.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "image/carve_scan.h"

namespace {

std::vector<CarveHit> carve(const uint8_t* data, size_t size, const std::vector<size_t>& cuts)
{
    CarveScanner s;
    carve_scan_begin(&s, size);
    std::vector<CarveHit> hits;
    size_t from = 0;
    for (size_t cut : cuts) {
        carve_scan_feed(&s, from, ByteView{data + from, cut - from}, true, &hits);
        from = cut;
    }
    carve_scan_feed(&s, from, ByteView{data + from, size - from}, true, &hits);
    carve_scan_end(&s, &hits);
    std::sort(hits.begin(), hits.end(), [](const CarveHit& a, const CarveHit& b) { return a.offset < b.offset; });
    return hits;
}

bool same(const std::vector<CarveHit>& a, const std::vector<CarveHit>& b)
{
    if (a.size() != b.size())
        return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (a[i].kind != b[i].kind || a[i].offset != b[i].offset || a[i].size != b[i].size ||
            a[i].version != b[i].version)
            return false;
    return true;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 2)
        return 0;
    // The first two bytes pick the run lengths; the rest is the space.
    const size_t step = size_t(data[0]) + 1, jitter = data[1];
    data += 2, size -= 2;
    std::vector<size_t> cuts;
    for (size_t at = step, k = 0; at < size; at += step + (jitter >> (k++ % 8) & 7))
        cuts.push_back(at);
    const std::vector<CarveHit> whole = carve(data, size, {});
    if (!same(whole, carve(data, size, cuts)))
        std::abort();
    CarveScanner s;
    carve_scan_begin(&s, size);
    for (const CarveHit& h : whole) {
        if (h.offset >= size || (h.kind == CARVE_RECORD && h.size > size - h.offset))
            std::abort();
        std::vector<CarveHit> again;
        carve_check_at(s, data + h.offset, size - h.offset, h.offset, &again);
        if (again.size() != 1 || again[0].offset != h.offset || again[0].kind != h.kind)
            std::abort();
    }
    return 0;
}

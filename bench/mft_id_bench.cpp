// The ThumbnailCacheId of every file record of an MFT of a million entries
// (synthetic: references, extensions and times as a real volume has them),
// in both forms, sorted for look-up; then a look-up of every record of an
// Explorer cache of 100,000 entries. Reference, in the same run: OpenSSL's
// SHA-256 of the same bytes per id, a hash of about the same work per byte.
// Target: the whole table well under a second.
//
// Usage: mft_id_bench [benchmark options]
#include <benchmark/benchmark.h>
#include <openssl/sha.h>

#include <algorithm>
#include <cstring>

#include "image/mft_names.h"

namespace {

constexpr size_t FILES = 1000000;

MftNames& volume()
{
    static MftNames names = [] {
        MftNames n;
        volume_guid_parse("{6924D67C-D058-4337-8E3E-954A5CC57C23}", &n.volume);
        static const char16_t* const extensions[] = {u".jpg", u".png", u".JPG", u".docx", u".mp4", u".dll", u""};
        uint64_t time = 0x01D9AB8176154FB2, state = 0x9E3779B97F4A7C15ull;
        n.files.reserve(FILES);
        for (size_t i = 0; i < FILES; ++i) {
            state ^= state << 13, state ^= state >> 7, state ^= state << 17;
            MftFile f;
            f.reference = (16 + i) | (1 + state % 40) << 48;
            f.last_write = time - state % (10ull * 365 * 86400 * 10000000);
            f.deleted = state % 10 == 0;
            f.path = "/Users/someone/Pictures/" + std::to_string(i);
            f.extensions.push_back(extensions[state % 7]);
            n.files.push_back(std::move(f));
        }
        return n;
    }();
    return names;
}

void BM_IdsOfEveryRecord(benchmark::State& state)
{
    MftNames& n = volume();
    for (auto _ : state) {
        mft_names_index(&n);
        benchmark::DoNotOptimize(n.by_id.data());
    }
    state.counters["ids"] = double(n.by_id.size());
}
BENCHMARK(BM_IdsOfEveryRecord)->Unit(benchmark::kMillisecond)->Iterations(3);

void BM_LookupOfACacheOf100k(benchmark::State& state)
{
    MftNames& n = volume();
    if (n.by_id.empty())
        mft_names_index(&n);
    std::vector<uint64_t> keys;
    for (size_t i = 0; i < 100000; ++i)
        keys.push_back(i % 2 ? n.by_id[i * 7 % n.by_id.size()].id : i * 0x9E3779B97F4A7C15ull);
    for (auto _ : state) {
        size_t found = 0;
        for (const uint64_t k : keys)
            found += mft_names_find(n, k) != nullptr;
        benchmark::DoNotOptimize(found);
    }
}
BENCHMARK(BM_LookupOfACacheOf100k)->Unit(benchmark::kMillisecond);

// The reference: SHA-256 of the bytes each id mixes (GUID, reference,
// extension, time, correction), twice per file as both forms are.
void BM_Sha256OfTheSameBytes(benchmark::State& state)
{
    MftNames& n = volume();
    for (auto _ : state) {
        uint8_t digest[32];
        for (const MftFile& f : n.files) {
            uint8_t bytes[64];
            size_t used = 0;
            std::memcpy(bytes, n.volume.bytes, 16), used = 16;
            std::memcpy(bytes + used, &f.reference, 8), used += 8;
            const size_t ext = std::min<size_t>(f.extensions[0].size() * 2, 24);
            std::memcpy(bytes + used, f.extensions[0].data(), ext), used += ext;
            std::memcpy(bytes + used, &f.last_write, 8), used += 8;
            for (int form = 0; form < 2; ++form)
                SHA256(bytes, used, digest);
        }
        benchmark::DoNotOptimize(digest);
    }
}
BENCHMARK(BM_Sha256OfTheSameBytes)->Unit(benchmark::kMillisecond)->Iterations(3);

} // namespace

BENCHMARK_MAIN();

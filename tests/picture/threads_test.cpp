// Decoders on several threads at once: each thread has its own decoder
// state, so every picture comes out as it does alone.
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "picture/fit.h"
#include "picture/picture.h"
#include "platform/work_pool.h"
#include "tests/support/test_support.h"

namespace {

struct Decode {
    std::vector<uint8_t> bytes;
    int32_t width = 0, height = 0;
    int full_result = 0, box_result = 0;
    std::vector<uint32_t> full, box;
};

// The picture decoded at full size, and fitted into a cell (a JPEG at a
// reduced scale), into d's results.
void decode(Decode* d)
{
    d->full.assign(size_t(d->width) * size_t(d->height), 0);
    d->full_result = picture_decode(d->bytes.data(), int32_t(d->bytes.size()),
                                    reinterpret_cast<uint8_t*>(d->full.data()), d->width * 4, d->width, d->height, 0, 0);
    Picture fitted{nullptr, 0, 0, 0};
    d->box_result = picture_decode_for_box(d->bytes.data(), int32_t(d->bytes.size()),
                                           PictureBox{100, 96, 0x204060, int64_t(4096) * 4096}, &fitted);
    d->box.assign(fitted.pixels, fitted.pixels + size_t(fitted.pitch / 4) * size_t(fitted.height));
    std::free(fitted.pixels);
}

} // namespace

TEST(PictureThreads, EveryDecoderGivesOnFourThreadsWhatItGivesAlone)
{
    REQUIRE_CORPUS();
    // Every format's conformance files (damaged ones among them), up to a
    // size that keeps the test short.
    std::vector<Decode> alone;
    for (const char* format : {"jpeg", "png", "gif", "bmp", "tga", "pcx", "cel", "dds"}) {
        const std::filesystem::path folder = std::filesystem::path(corpus_dir()) / "conformance" / format;
        std::error_code error;
        for (auto it = std::filesystem::recursive_directory_iterator(folder, error);
             !error && it != std::filesystem::recursive_directory_iterator(); it.increment(error)) {
            if (!it->is_regular_file() || it->file_size() > (1u << 20))
                continue;
            Decode d;
            d.bytes = read_file(it->path().string());
            picture_probe(d.bytes.data(), int32_t(d.bytes.size()), &d.width, &d.height);
            if (d.width <= 0 || d.height <= 0 || int64_t(d.width) * d.height > 4 << 20)
                continue;
            alone.push_back(std::move(d));
        }
    }
    ASSERT_GT(alone.size(), 100u);
    for (Decode& d : alone)
        decode(&d);
    // Each picture twice, so that pictures of different formats and kinds
    // (progressive, restart intervals, interlaced, palettes) overlap.
    std::vector<Decode> together(alone.size() * 2);
    for (size_t i = 0; i < together.size(); ++i) {
        const Decode& a = alone[(i * 7919) % alone.size()];
        together[i].bytes = a.bytes;
        together[i].width = a.width, together[i].height = a.height;
    }
    picture_prepare_threads();
    sys_run_tasks(4, int64_t(together.size()), [](void* context, int64_t i) {
        decode(&(*static_cast<std::vector<Decode>*>(context))[size_t(i)]);
    }, &together);
    int32_t differ = 0;
    for (size_t i = 0; i < together.size(); ++i) {
        const Decode& a = alone[(i * 7919) % alone.size()];
        const Decode& t = together[i];
        differ += t.full_result != a.full_result || t.full != a.full || t.box_result != a.box_result || t.box != a.box;
    }
    EXPECT_EQ(differ, 0) << "of " << together.size() << " decodes";
}

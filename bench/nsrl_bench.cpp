// extract --hashset with an NSRL RDSv3-shaped database of a million rows,
// against the same extract without a set, in the same process and the same
// run. Target: at most 1.5 times as long.
//
// The database is made here, in a temporary folder: the RDSv3 FILE table
// (primary key starting with sha256) with --rows rows of random digests, plus
// the digests of every tenth thumbnail of the fixture cache, so that some
// look-ups find their row. It is measured as made (md5 and sha1 lead no
// index), then again after indexes on md5 and sha1 are added. The caches: a
// Thumbs.db made by the fixture writer (--thumbnails pictures) and the
// largest real cache of the shared corpus, where present.
//
// Each pass runs extract without the set, then with it, into fresh folders;
// the table gives the medians over --passes of wall-clock time (a look-up
// waits on reads of the database) and process CPU time, and the median of the
// per-pass ratios. extract also takes the digests of the set file itself for
// the case manifest, a cost that grows with the set and not with the cache:
// it is timed on its own (digests_of_file), and so are the look-ups alone
// (hashset_holds of --lookups pictures not in the set, and of those in it).
//
// Usage: nsrl_bench [--rows N] [--thumbnails N] [--passes N] [--lookups N]
#include <dirent.h>
#include <fcntl.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "app/cli/cli.h"
#include "app/cli/digests/digests.h"
#include "app/cli/case/hashset.h"
#include "tools/fixture/nsrl_rds.h"
#include "tools/fixture/thumbsdb_writer.h"

// The shared corpus, as seen from the repository; GLIMMERDEX_CORPUS overrides it.
#define GLIMMERDEX_BENCH_CORPUS "../shared/corpus"

namespace {

struct Settings {
    long rows = 1000000;
    long thumbnails = 600;
    long passes = 5;
    long lookups = 20000;
};

struct Clock {
    double wall, cpu;
};

Clock now()
{
    timespec w, c;
    clock_gettime(CLOCK_MONOTONIC, &w);
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &c);
    return {double(w.tv_sec) + double(w.tv_nsec) * 1e-9, double(c.tv_sec) + double(c.tv_nsec) * 1e-9};
}

double median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v.empty() ? 0 : v[v.size() / 2];
}

[[noreturn]] void fail(const char* what, const char* detail)
{
    std::fprintf(stderr, "nsrl_bench: %s: %s\n", what, detail);
    std::exit(1);
}

uint64_t splitmix(uint64_t* state)
{
    uint64_t z = (*state += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
}

std::string random_hex(uint64_t* state, size_t digits)
{
    static const char HEX[] = "0123456789ABCDEF";
    std::string out;
    while (out.size() < digits) {
        uint64_t r = splitmix(state);
        for (int i = 0; i < 16 && out.size() < digits; ++i, r >>= 4)
            out += HEX[r & 15];
    }
    return out;
}

std::string upper(std::string s)
{
    for (char& c : s)
        if (c >= 'a' && c <= 'z')
            c = char(c - 32);
    return s;
}

void exec(sqlite3* db, const char* sql)
{
    char* message = nullptr;
    if (sqlite3_exec(db, sql, nullptr, nullptr, &message) != SQLITE_OK)
        fail(sql, message ? message : "failed");
}

// rows random rows plus the given digests, as RDSv3 publishes them.
void make_database(const std::string& path, long rows, const std::vector<Digests>& known)
{
    sqlite3* db = nullptr;
    if (sqlite3_open(path.c_str(), &db) != SQLITE_OK)
        fail(path.c_str(), sqlite3_errmsg(db));
    exec(db, "PRAGMA journal_mode = OFF; PRAGMA synchronous = OFF; PRAGMA cache_size = -131072");
    exec(db, fixture::RDSV3_FILE_TABLE);
    exec(db, "BEGIN");
    sqlite3_stmt* insert = nullptr;
    if (sqlite3_prepare_v2(db, fixture::RDSV3_FILE_INSERT, -1, &insert, nullptr) != SQLITE_OK)
        fail("insert", sqlite3_errmsg(db));
    uint64_t state = 2023;
    auto add = [&](const std::string& sha256, const std::string& sha1, const std::string& md5, long n) {
        const std::string crc = random_hex(&state, 8), name = "file_" + std::to_string(n) + ".dll";
        const std::string* text[5] = {&sha256, &sha1, &md5, &crc, &name};
        for (int i = 0; i < 5; ++i)
            sqlite3_bind_text(insert, i + 1, text[i]->c_str(), int(text[i]->size()), SQLITE_STATIC);
        sqlite3_bind_int64(insert, 6, int64_t(splitmix(&state) % 10000000));
        sqlite3_bind_int64(insert, 7, int64_t(splitmix(&state) % 300000));
        if (sqlite3_step(insert) != SQLITE_DONE)
            fail("insert", sqlite3_errmsg(db));
        sqlite3_reset(insert);
    };
    for (long n = 0; n < rows; ++n) {
        std::string sha256 = random_hex(&state, 64), sha1 = random_hex(&state, 40), md5 = random_hex(&state, 32);
        add(sha256, sha1, md5, n);
    }
    for (size_t k = 0; k < known.size(); ++k)
        add(upper(known[k].sha256), upper(known[k].sha1), upper(known[k].md5), rows + long(k));
    sqlite3_finalize(insert);
    exec(db, "COMMIT");
    sqlite3_close(db);
}

void add_md5_sha1_indexes(const std::string& path)
{
    sqlite3* db = nullptr;
    if (sqlite3_open(path.c_str(), &db) != SQLITE_OK)
        fail(path.c_str(), sqlite3_errmsg(db));
    exec(db, "PRAGMA journal_mode = OFF; PRAGMA synchronous = OFF; PRAGMA cache_size = -131072");
    exec(db, "CREATE INDEX FILE_md5 ON FILE (md5); CREATE INDEX FILE_sha1 ON FILE (sha1)");
    sqlite3_close(db);
}

// A Thumbs.db of count distinct pictures of thumbnail sizes; the digests of
// every tenth picture in *known.
std::string make_cache(const std::string& dir, long count, std::vector<Digests>* known)
{
    fixture::CacheSpec spec;
    for (long i = 0; i < count; ++i) {
        static const int32_t SIZES[3][2] = {{96, 96}, {128, 96}, {256, 192}};
        const int32_t* size = SIZES[i % 3];
        fixture::CacheEntry e;
        e.name = "photo_" + std::to_string(i) + ".jpg";
        e.time = 128980119090000000ull + uint64_t(i);
        e.picture = fixture::encode_jpeg(fixture::make_test_image(size[0], size[1], uint32_t(i)), 85);
        if (i % 10 == 0) {
            known->emplace_back();
            digests_of(e.picture.data(), e.picture.size(), &known->back());
        }
        spec.entries.push_back(e);
    }
    fixture::Bytes db = fixture::write_thumbs_db(spec);
    std::string path = dir + "/Thumbs.db";
    FILE* f = std::fopen(path.c_str(), "wb");
    if (!f || std::fwrite(db.data(), 1, db.size(), f) != db.size() || std::fclose(f) != 0)
        fail(path.c_str(), "cannot write it");
    return path;
}

// The largest cache file of the corpus's real caches, or "".
std::string largest_real_cache()
{
    const char* corpus = std::getenv("GLIMMERDEX_CORPUS");
    const std::string dir = std::string(corpus && *corpus ? corpus : GLIMMERDEX_BENCH_CORPUS) + "/real";
    std::string best;
    off_t best_size = 0;
    if (DIR* d = opendir(dir.c_str())) {
        while (dirent* e = readdir(d)) {
            const std::string name = e->d_name, path = dir + "/" + name;
            struct stat st;
            if (name.size() > 3 && name.compare(name.size() - 3, 3, ".db") == 0 && stat(path.c_str(), &st) == 0 &&
                st.st_size > best_size) {
                best = path;
                best_size = st.st_size;
            }
        }
        closedir(d);
    }
    return best;
}

// One extract in this process, its own output out of the way; the records of
// its report.
long extract(const std::vector<std::string>& words, Clock* spent)
{
    std::vector<std::string> copy = words;
    std::vector<char*> argv;
    for (std::string& w : copy)
        argv.push_back(w.data());
    std::fflush(stdout);
    std::fflush(stderr);
    int saved_out = dup(1), saved_err = dup(2), null = open("/dev/null", O_WRONLY);
    dup2(null, 1);
    dup2(null, 2);
    Clock start = now();
    int result = cli_extract(int(argv.size()), argv.data());
    Clock end = now();
    std::fflush(stdout);
    std::fflush(stderr);
    dup2(saved_out, 1);
    dup2(saved_err, 2);
    close(saved_out);
    close(saved_err);
    close(null);
    if (result != CLI_OK)
        fail("extract failed", words.back().c_str());
    *spent = {end.wall - start.wall, end.cpu - start.cpu};
    FILE* report = std::fopen((words.back() + "/report.csv").c_str(), "rb");
    long lines = 0;
    for (int c; report && (c = std::fgetc(report)) != EOF;)
        lines += c == '\n';
    if (report)
        std::fclose(report);
    std::filesystem::remove_all(words.back());
    return lines - 1;
}

// Microseconds per look-up, wall and CPU, of the pictures given.
void time_lookups(const HashSet& set, const std::vector<Digests>& pictures, bool expected, double* wall,
                  double* cpu)
{
    Clock start = now();
    for (const Digests& d : pictures)
        if (hashset_holds(set, d) != expected)
            fail("a look-up gave the wrong answer", d.sha256.c_str());
    Clock end = now();
    *wall = (end.wall - start.wall) * 1e6 / double(pictures.size());
    *cpu = (end.cpu - start.cpu) * 1e6 / double(pictures.size());
}

void measure_lookups(const char* label, const std::string& database, const std::vector<Digests>& known,
                     long lookups)
{
    HashSet set;
    std::string error;
    if (hashset_load(database, false, &set, &error) != 0)
        fail(database.c_str(), error.c_str());
    uint64_t state = 7;
    std::vector<Digests> strangers(static_cast<size_t>(lookups));
    for (Digests& d : strangers) {
        d.sha256 = random_hex(&state, 64);
        d.sha1 = random_hex(&state, 40);
        d.md5 = random_hex(&state, 32);
        for (std::string* hex : {&d.sha256, &d.sha1, &d.md5})
            for (char& c : *hex)
                c = char(c >= 'A' ? c + 32 : c);
    }
    double miss_wall, miss_cpu, hit_wall, hit_cpu;
    time_lookups(set, strangers, false, &miss_wall, &miss_cpu);
    time_lookups(set, known, true, &hit_wall, &hit_cpu);
    hashset_release(&set);
    std::printf("| %s | %.1f | %.1f | %.1f | %.1f |\n", label, miss_wall, miss_cpu, hit_wall, hit_cpu);
}

// Milliseconds, wall and CPU, of the digests extract takes of the set file.
Clock time_set_digests(const std::string& database)
{
    Digests d;
    int64_t size = 0;
    Clock start = now();
    if (digests_of_file(database, &d, &size) != 0)
        fail(database.c_str(), "cannot read it");
    Clock end = now();
    std::printf("the set's own digests (for the manifest): %.1f MiB in %.0f ms (CPU %.0f ms)\n",
                double(size) / (1 << 20), (end.wall - start.wall) * 1e3, (end.cpu - start.cpu) * 1e3);
    return {(end.wall - start.wall) * 1e3, (end.cpu - start.cpu) * 1e3};
}

void measure(const char* label, const std::string& cache, const std::string& database, const std::string& dir,
             long passes, Clock set_digests)
{
    std::vector<double> wall[2], cpu[2], wall_ratio, cpu_ratio, lookup_ratio;
    long records = 0;
    for (long p = 0; p < passes; ++p) {
        Clock spent[2];
        for (int with = 0; with < 2; ++with) {
            std::vector<std::string> words = {cache, dir + "/out"};
            if (with)
                words.insert(words.begin(), {"--hashset", database});
            records = extract(words, &spent[with]);
            wall[with].push_back(spent[with].wall);
            cpu[with].push_back(spent[with].cpu);
        }
        wall_ratio.push_back(spent[1].wall / spent[0].wall);
        cpu_ratio.push_back(spent[1].cpu / spent[0].cpu);
        lookup_ratio.push_back((spent[1].cpu - set_digests.cpu * 1e-3) / spent[0].cpu);
    }
    std::printf("| %s | %ld | %.0f | %.0f | %.0f | %.0f | %.2f | %.2f | %.2f |\n", label, records,
                median(wall[0]) * 1e3, median(wall[1]) * 1e3, median(cpu[0]) * 1e3, median(cpu[1]) * 1e3,
                median(wall_ratio), median(cpu_ratio), median(lookup_ratio));
    std::fflush(stdout);
}

} // namespace

int main(int argc, char** argv)
{
    Settings s;
    for (int i = 1; i + 1 < argc; i += 2) {
        long* target = std::strcmp(argv[i], "--rows") == 0         ? &s.rows
                       : std::strcmp(argv[i], "--thumbnails") == 0 ? &s.thumbnails
                       : std::strcmp(argv[i], "--passes") == 0     ? &s.passes
                       : std::strcmp(argv[i], "--lookups") == 0    ? &s.lookups
                                                                   : nullptr;
        if (!target)
            fail("unknown option", argv[i]);
        *target = std::max(1L, std::atol(argv[i + 1]));
    }
    char templ[] = "/tmp/glimmerdex-nsrl-bench-XXXXXX";
    if (!mkdtemp(templ))
        fail("mkdtemp", std::strerror(errno));
    const std::string dir = templ, database = dir + "/rds.db";
    mkdir((dir + "/fixture").c_str(), 0700);

    std::vector<Digests> known;
    const std::string fixture_cache = make_cache(dir + "/fixture", s.thumbnails, &known);
    Clock start = now();
    make_database(database, s.rows, known);
    struct stat st;
    stat(database.c_str(), &st);
    std::printf("database: %ld rows + %zu of the fixture's pictures, %.1f MiB, made in %.1f s\n", s.rows,
                known.size(), double(st.st_size) / (1 << 20), now().wall - start.wall);
    const std::string real = largest_real_cache();
    if (real.empty())
        std::printf("the shared corpus is absent: the real cache is not measured\n");

    for (int indexed = 0; indexed < 2; ++indexed) {
        const char* set = indexed ? "sha256, md5, sha1 indexed" : "sha256 (primary key) only";
        if (indexed) {
            start = now();
            add_md5_sha1_indexes(database);
            std::printf("\nmd5 and sha1 indexes added in %.1f s\n", now().wall - start.wall);
        }
        std::printf("\n| set | µs per miss | CPU µs per miss | µs per hit | CPU µs per hit |\n"
                    "|---|---:|---:|---:|---:|\n");
        measure_lookups(set, database, known, s.lookups);
        std::printf("\n");
        Clock set_digests = time_set_digests(database);
        std::printf("\n| cache, set | records | without ms | with ms | without CPU ms | with CPU ms | ratio | "
                    "CPU ratio | CPU ratio less the set's digests |\n|---|---:|---:|---:|---:|---:|---:|---:|---:|\n");
        measure((std::string("fixture, ") + set).c_str(), fixture_cache, database, dir, s.passes, set_digests);
        if (!real.empty())
            measure((std::string("real ") + real.substr(real.rfind('/') + 1) + ", " + set).c_str(), real, database,
                    dir, s.passes, set_digests);
    }
    std::filesystem::remove_all(dir);
    return 0;
}

#include "app/cli/case/case_manifest.h"

#include <ctime>

#include "app/cli/table.h"
#include "platform/system.h"
#include "platform/thread.h"
#include "source_revision.h"  // GLIMMERDEX_REVISION, written at build time

#ifndef GLIMMERDEX_VERSION
#define GLIMMERDEX_VERSION "unknown"
#endif

namespace {

const char* machine_name()
{
#if defined(__x86_64__) || defined(_M_X64)
    return "x86_64";
#elif defined(__aarch64__) || defined(_M_ARM64)
    return "aarch64";
#elif defined(__i386__) || defined(_M_IX86)
    return "i386";
#else
    return "unknown machine";
#endif
}

void print_json(std::FILE* out, const InputPrint& p)
{
    if (!p.read) {
        std::fputs("{\"read\": false}", out);
        return;
    }
    std::fprintf(out, "{\"read\": true, \"size\": %lld, \"md5\": \"%s\", \"sha1\": \"%s\", \"sha256\": \"%s\"}",
                 static_cast<long long>(p.size), p.digests.md5.c_str(), p.digests.sha1.c_str(),
                 p.digests.sha256.c_str());
}

void print_strings(std::FILE* out, const std::vector<std::string>& list, const char* indent)
{
    std::fputs("[", out);
    for (size_t i = 0; i < list.size(); ++i)
        std::fprintf(out, "%s\n%s%s", i ? "," : "", indent, json_string(list[i]).c_str());
    std::fprintf(out, "%s]", list.empty() ? "" : "\n  ");
}

} // namespace

std::string case_tool_version() { return GLIMMERDEX_VERSION " (revision " GLIMMERDEX_REVISION ")"; }

std::string utc_now()
{
    std::time_t now = std::time(nullptr);
    char text[32] = "unknown";
    if (const std::tm* t = std::gmtime(&now))
        std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", t);
    return text;
}

namespace {

struct Md5Pass {
    const std::string* path = nullptr;
    Digests digests;
    int64_t size = -1;
    int result = -1;
};

void md5_pass(void* argument)
{
    Md5Pass* p = static_cast<Md5Pass*>(argument);
    p->result = digests_of_file(*p->path, &p->digests, &p->size, 1u << DIGEST_MD5);
}

} // namespace

void input_print(const std::string& path, InputPrint* out, int jobs)
{
    Md5Pass md5;
    md5.path = &path;
    SysThread* thread = jobs > 1 ? sys_thread_start(md5_pass, &md5) : nullptr;
    if (thread) {
        int rest = digests_of_file(path, &out->digests, &out->size, (1u << DIGEST_SHA1) | (1u << DIGEST_SHA256));
        sys_thread_join(thread);
        out->digests.md5 = md5.digests.md5;
        // Two reads that saw different sizes saw a file that changed: one pass
        // then gives digests of one and the same reading.
        if (rest == 0 && md5.result == 0 && md5.size == out->size) {
            out->read = true;
            return;
        }
    }
    out->read = digests_of_file(path, &out->digests, &out->size) == 0;
}

std::string case_system_name() { return sys_os_description() + "; " + machine_name(); }

std::vector<std::string> case_summary(const CaseManifest& m)
{
    std::vector<std::string> lines;
    for (const CaseHashset& h : m.hashsets) {
        std::string release;
        for (const auto& [column, value] : h.version)
            if (column == "version" || column == "build_set")
                release += ", " + column + " " + value;
        lines.push_back("Hash set " + h.path + " (" + h.kind + ", " + h.mode + release + ")");
    }
    const CaseCounts& n = m.counts;
    lines.push_back(std::to_string(n.entries_read) + " entries read, " + std::to_string(n.recovered) +
                    " with a thumbnail, " + std::to_string(n.written) + " files written, " + std::to_string(n.failed) +
                    " failed, " + std::to_string(n.hidden) + " left out as known");
    lines.push_back("Written by glimmerdex-cli " + case_tool_version() +
                    "; times in UTC; run details in manifest.json, checksums in hashes.txt");
    return lines;
}

void write_manifest(std::FILE* out, const CaseManifest& m, const std::vector<std::string>& command)
{
    std::fputs("{\n", out);
    std::fprintf(out, "  \"tool\": \"glimmerdex-cli\",\n  \"version\": %s,\n  \"revision\": %s,\n",
                 json_string(GLIMMERDEX_VERSION).c_str(), json_string(GLIMMERDEX_REVISION).c_str());
    std::fputs("  \"command_line\": ", out);
    print_strings(out, command, "    ");
    std::fprintf(out, ",\n  \"started_utc\": \"%s\",\n  \"finished_utc\": \"%s\",\n  \"system\": %s,\n",
                 m.started_utc.c_str(), m.finished_utc.c_str(), json_string(case_system_name()).c_str());
    std::fputs("  \"inputs\": [", out);
    for (size_t i = 0; i < m.inputs.size(); ++i) {
        const CaseInput& in = m.inputs[i];
        bool unchanged = in.before.read && in.after.read && in.before.size == in.after.size &&
                         in.before.digests.md5 == in.after.digests.md5 &&
                         in.before.digests.sha1 == in.after.digests.sha1 &&
                         in.before.digests.sha256 == in.after.digests.sha256;
        std::fprintf(out, "%s\n    {\"path\": %s,\n     \"before\": ", i ? "," : "", json_string(in.path).c_str());
        print_json(out, in.before);
        std::fputs(",\n     \"after\": ", out);
        print_json(out, in.after);
        for (const CaseImageCheck& c : m.image_checks)
            if (c.path == in.path)
                std::fprintf(out,
                             ",\n     \"verify_image\": {\"result\": %s, \"stored_md5\": %s, \"media_md5\": %s}",
                             json_string(c.result).c_str(), json_string(c.stored_md5).c_str(),
                             json_string(c.media_md5).c_str());
        std::fprintf(out, ",\n     \"unchanged\": %s}", unchanged ? "true" : "false");
    }
    std::fputs(m.inputs.empty() ? "],\n" : "\n  ],\n", out);
    std::fputs("  \"hashsets\": [", out);
    for (size_t i = 0; i < m.hashsets.size(); ++i) {
        const CaseHashset& h = m.hashsets[i];
        std::fprintf(out, "%s\n    {\"path\": %s, \"kind\": \"%s\", \"mode\": \"%s\", ", i ? "," : "",
                     json_string(h.path).c_str(), h.kind.c_str(), h.mode.c_str());
        if (h.entries >= 0)
            std::fprintf(out, "\"entries\": %lld, ", static_cast<long long>(h.entries));
        if (h.size >= 0)
            std::fprintf(out, "\"size\": %lld, ", static_cast<long long>(h.size));
        if (!h.modified_utc.empty())
            std::fprintf(out, "\"modified_utc\": \"%s\", ", h.modified_utc.c_str());
        if (h.kind == "nsrl-rdsv3") {
            std::fputs("\"version\": ", out);
            if (h.version.empty())
                std::fputs("null", out);  // the set has no VERSION row
            for (size_t c = 0; c < h.version.size(); ++c)
                std::fprintf(out, "%s%s: %s", c ? ", " : "{", json_string(h.version[c].first).c_str(),
                             json_string(h.version[c].second).c_str());
            std::fputs(h.version.empty() ? ", " : "}, ", out);
        }
        if (h.digests_taken)
            std::fprintf(out, "\"sha256\": \"%s\"}", h.digests.sha256.c_str());
        else
            std::fputs("\"sha256\": null, \"digests\": \"not taken (--hashset-digests takes them)\"}", out);
    }
    std::fputs(m.hashsets.empty() ? "],\n" : "\n  ],\n", out);
    const CaseCounts& c = m.counts;
    std::fprintf(out,
                 "  \"counts\": {\"caches\": %lld, \"caches_failed\": %lld, \"entries_read\": %lld, "
                 "\"recovered\": %lld, \"written\": %lld, \"failed\": %lld, \"hidden\": %lld},\n",
                 static_cast<long long>(c.caches), static_cast<long long>(c.caches_failed),
                 static_cast<long long>(c.entries_read), static_cast<long long>(c.recovered),
                 static_cast<long long>(c.written), static_cast<long long>(c.failed),
                 static_cast<long long>(c.hidden));
    std::fputs("  \"outputs\": ", out);
    print_strings(out, m.outputs, "    ");
    std::fputs(",\n  \"warnings\": ", out);
    print_strings(out, m.warnings, "    ");
    std::fputs("\n}\n", out);
}

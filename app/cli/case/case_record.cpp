#include "app/cli/case/case_record.h"

#include <map>

void case_digest_payload(const ReportRow& row, CaseRow* c)
{
    if (row.entry.payload.data && row.length >= 0)
        digests_of(row.entry.payload.data, size_t(row.length), &c->payload);
}

void case_group_duplicates(const std::vector<ReportRow>& rows, std::vector<CaseRow>* cases)
{
    std::map<std::string, int> count;
    for (const CaseRow& c : *cases)
        if (!c.payload.sha256.empty())
            ++count[c.payload.sha256];
    std::map<std::string, int> group;
    for (size_t i = 0; i < cases->size() && i < rows.size(); ++i) {
        CaseRow& c = (*cases)[i];
        if (c.payload.sha256.empty() || count[c.payload.sha256] < 2)
            continue;
        auto [at, added] = group.emplace(c.payload.sha256, int(group.size()) + 1);
        (void)added;
        c.same_as = std::to_string(at->second);
    }
}

std::vector<std::string> case_columns() { return {"md5", "sha1", "file", "missing", "hashset", "same_as"}; }

std::vector<ColumnKind> case_column_kinds()
{
    return {ColumnKind::text, ColumnKind::text, ColumnKind::text, ColumnKind::text, ColumnKind::text, ColumnKind::number};
}

std::vector<std::string> case_cells(const ReportRow& row, const CaseRow& c)
{
    bool stored = !c.payload.md5.empty();
    return {stored ? c.payload.md5 : "-", stored ? c.payload.sha1 : "-", row.file, c.missing,
            c.hashset.empty() ? "-" : c.hashset, c.same_as.empty() ? "-" : c.same_as};
}

namespace {

// The comment lines hold one line each: control characters would end them.
std::string one_line(const std::string& s)
{
    std::string out = s;
    for (char& ch : out)
        if (static_cast<unsigned char>(ch) < 0x20 || ch == 0x7F)
            ch = '?';
    return out;
}

} // namespace

void write_hashdeep(std::FILE* out, const std::string& folder, const std::vector<std::string>& command,
                    const std::vector<HashedFile>& files)
{
    std::fputs("%%%% HASHDEEP-1.0\n%%%% size,md5,sha256,filename\n", out);
    std::fprintf(out, "## Invoked from: %s\n## $", one_line(folder).c_str());
    for (const std::string& word : command)
        std::fprintf(out, " %s", one_line(word).c_str());
    std::fputs("\n## \n", out);
    for (const HashedFile& f : files)
        std::fprintf(out, "%lld,%s,%s,%s\n", static_cast<long long>(f.size), f.digests.md5.c_str(),
                     f.digests.sha256.c_str(), f.name.c_str());
}

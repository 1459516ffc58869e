#include "app/cli/case/html_report.h"

#include <algorithm>
#include <cstring>
#include <map>
#include <string>

namespace {

// Formats a browser shows: for others the row links the file instead of
// showing a broken picture.
bool browser_shows(const std::string& format, const std::string& file)
{
    if (format == "jpeg" || format == "png" || format == "gif" || format == "bmp")
        return true;
    // Old catalogs are decoded and written as PNG.
    return format == "jpeg-tableless" && file.size() > 4 && file.compare(file.size() - 4, 4, ".png") == 0;
}

// A file name as a relative URL: every byte outside the unreserved set as %XX.
std::string url_of(const std::string& name)
{
    std::string out;
    for (unsigned char c : name) {
        if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || std::strchr("-._~", c)) {
            out += char(c);
        } else {
            char escaped[4];
            std::snprintf(escaped, sizeof escaped, "%%%02X", c);
            out += escaped;
        }
    }
    return "./" + out;
}

const char HTML_STYLE[] = R"(body{font:14px/1.35 sans-serif;margin:1em;background:#fff;color:#111}
h1{font-size:1.3em;margin:0 0 .3em}
h2{font-size:1.1em;margin:1.4em 0 .2em;overflow-wrap:anywhere}
.summary{margin:0 0 .8em;padding:0;list-style:none;color:#333;overflow-wrap:anywhere}
.digests{margin:0 0 .5em;color:#333;font-size:12px}
.digests span{white-space:nowrap;margin-right:.8em}
.digests code{font:12px monospace}
table{border-collapse:collapse}
th,td{border:1px solid #ccc;padding:2px 5px;vertical-align:top;text-align:left}
th{background:#eee;position:sticky;top:0}
th a{color:inherit;text-decoration:none}
th[aria-sort=ascending] a::after{content:" \25B2"}
th[aria-sort=descending] a::after{content:" \25BC"}
td.col-name,td.col-path,td.col-file{min-width:12em;max-width:24em;overflow-wrap:anywhere}
td.digest{font:11px monospace;word-break:break-all;min-width:9em;max-width:9em}
td.col-header,td.col-hash,td.col-data_checksum{font:11px monospace}
td.col-utc{white-space:nowrap}
td.thumb{width:100px;text-align:center}
td.thumb img{max-width:96px;max-height:96px;display:block;margin:auto}
tr.flagged{background:#fdd}
label.veil{display:block;cursor:pointer;overflow:hidden}
label.veil input{display:none}
label.veil img{filter:blur(14px)}
label.veil input:checked+img{filter:none}
#filter{margin:0 .6em .6em 0;width:24em}
)";

// Sorting by a column and filtering by text, across every cache's table: the
// page is one report, so one order and one filter hold for all of it (a
// table without the column keeps its order). Numbers compare as numbers;
// empty cells go last either way; equal keys keep their order.
const char HTML_SCRIPT[] = R"((function(){
var each=Array.prototype.forEach,page=document.body;
var sections=document.querySelectorAll('section.cache'),tables=document.querySelectorAll('table.entries');
var filter=document.getElementById('filter'),shown=document.getElementById('shown');
function key(row,i){var c=row.cells[i];return c.hasAttribute('data-key')?c.getAttribute('data-key'):c.textContent;}
function heads(table){return table.tHead.rows[0].cells;}
function columnOf(table,name){
  var i=-1;each.call(heads(table),function(h,k){if(h.getAttribute('data-column')===name)i=k;});return i;}
function sortTable(table,i,down){
  each.call(heads(table),function(h,k){
    if(k===i)h.setAttribute('aria-sort',down?'descending':'ascending');else h.removeAttribute('aria-sort');});
  if(i<0)return;
  var body=table.tBodies[0];
  var rows=Array.prototype.slice.call(body.rows).map(function(r,n){return [r,key(r,i),n];});
  rows.sort(function(a,b){
    var x=a[1],y=b[1],nx=x!==''&&!isNaN(x),ny=y!==''&&!isNaN(y),d;
    if((x==='')!==(y===''))return x===''?1:-1;
    if(nx&&ny)d=Number(x)-Number(y);else if(nx!==ny)d=nx?-1:1;else d=x<y?-1:x>y?1:0;
    return (down?-d:d)||a[2]-b[2];});
  rows.forEach(function(r){body.appendChild(r[0]);});
}
function sortBy(name){
  var down=name.charAt(0)==='-';if(down)name=name.slice(1);
  var found=Array.prototype.some.call(tables,function(t){return columnOf(t,name)>=0;});
  if(!found)return;
  each.call(tables,function(t){sortTable(t,columnOf(t,name),down);});
  page.setAttribute('data-sorted',(down?'-':'')+name);
}
function filterBy(text){
  text=text.toLowerCase();var total=0,all=0;
  each.call(sections,function(s){
    var rows=s.querySelectorAll('tr.entry'),on=0;
    each.call(rows,function(r){var show=!text||r.textContent.toLowerCase().indexOf(text)>=0;r.hidden=!show;on+=show;});
    s.hidden=!!text&&!on;s.setAttribute('data-shown',on);total+=on;all+=rows.length;});
  page.setAttribute('data-shown',total);
  shown.textContent=text?total+' of '+all+' rows':'';
}
each.call(tables,function(t){each.call(heads(t),function(h){h.addEventListener('click',function(e){
  e.preventDefault();var name=h.getAttribute('data-column');
  sortBy(page.getAttribute('data-sorted')===name?'-'+name:name);});});});
filter.hidden=false;
filter.addEventListener('input',function(){filterBy(filter.value);});
function fromAddress(){
  location.hash.slice(1).split('&').forEach(function(p){
    var kv=p.split('='),v=decodeURIComponent(kv.slice(1).join('='));
    if(kv[0]==='sort')sortBy(v);
    if(kv[0]==='filter'){filter.value=v;filterBy(v);}});
}
fromAddress();
window.addEventListener('hashchange',fromAddress);
// What a reader (or a test) can check: pictures that did not load, and where each shows.
window.addEventListener('load',function(){
  var broken=0;
  each.call(document.images,function(img){
    if(!img.naturalWidth)broken++;
    var r=img.getBoundingClientRect();
    img.setAttribute('data-box',Math.round(r.left)+','+Math.round(r.top)+','+Math.round(r.width)+','+Math.round(r.height));});
  page.setAttribute('data-images-broken',broken);
  page.setAttribute('data-images',document.images.length);
});
})();
)";

} // namespace

std::string html_text(const std::string& text)
{
    std::string out;
    for (char c : text) {
        switch (c) {
        case '&': out += "&amp;"; break;
        case '<': out += "&lt;"; break;
        case '>': out += "&gt;"; break;
        case '"': out += "&quot;"; break;
        case '\'': out += "&#39;"; break;
        default:
            // As references, control characters reach the page as they are
            // (a bare CR would be read as a line feed).
            if (static_cast<unsigned char>(c) < 0x20 && c != '\n' && c != '\t')
                out += "&#" + std::to_string(int(c)) + ";";
            else
                out += c;
        }
    }
    return out;
}

namespace {

// One cache's part of the page: the report rows read from it.
struct CacheSection {
    std::string path;
    const InputPrint* print = nullptr;  // its digests, taken before the run
    std::vector<size_t> rows;
};

// The caches in the order they were read, then any cache only the rows name.
std::vector<CacheSection> cache_sections(const std::vector<ReportRow>& rows, size_t count,
                                         const std::vector<CaseInput>& caches)
{
    std::vector<CacheSection> sections;
    std::map<std::string, size_t> at;
    for (const CaseInput& in : caches)
        if (at.emplace(in.path, sections.size()).second)
            sections.push_back({in.path, &in.before, {}});
    for (size_t i = 0; i < count; ++i) {
        auto [it, added] = at.emplace(rows[i].cache, sections.size());
        if (added)
            sections.push_back({rows[i].cache, nullptr, {}});
        sections[it->second].rows.push_back(i);
    }
    return sections;
}

// The columns of a section's table: the name, the item's path and where that
// came from first (what a reader looks for), then the rest in report order; only those with a value
// ("" and "-" are none) in some row, and never the cache, which heads the section.
std::vector<size_t> section_columns(const Table& table, const std::vector<size_t>& rows)
{
    std::vector<size_t> order;
    for (const char* lead : {"name", "path", "name_source"})
        for (size_t k = 0; k < table.columns.size(); ++k)
            if (table.columns[k] == lead)
                order.push_back(k);
    for (size_t k = 0; k < table.columns.size(); ++k)
        if (std::find(order.begin(), order.end(), k) == order.end() && table.columns[k] != "cache")
            order.push_back(k);
    std::vector<size_t> shown;
    for (size_t k : order) {
        bool value = std::any_of(rows.begin(), rows.end(), [&](size_t i) {
            const std::string& v = table.rows[i][k];
            return !v.empty() && v != "-";
        });
        if (value)
            shown.push_back(k);
    }
    return shown;
}

// Each item on one line, so that a narrow window wraps between them.
void write_digests(std::FILE* out, size_t entries, const InputPrint* print)
{
    std::fprintf(out, "<p class=\"digests\"><span>%zu %s</span>", entries, entries == 1 ? "entry" : "entries");
    if (print && print->read)
        std::fprintf(out,
                     " <span>%lld bytes</span> <span>MD5 <code>%s</code></span> <span>SHA-1 <code>%s</code></span>"
                     " <span>SHA-256 <code>%s</code></span> <span>(read before the run)</span>",
                     static_cast<long long>(print->size), print->digests.md5.c_str(), print->digests.sha1.c_str(),
                     print->digests.sha256.c_str());
    else if (print)
        std::fputs(" <span>the file could not be read for its digests</span>", out);
    std::fputs("</p>\n", out);
}

// The thumbnail cell: the picture, veiled where flagged and asked; a link to
// a file the browser would not show; nothing without a file.
std::string picture_cell(const ReportRow& r, bool flagged, const HtmlOptions& options)
{
    if (r.file.empty())
        return "";
    if (!browser_shows(r.format, r.file))
        return "<a href=\"" + html_text(url_of(r.file)) + "\">" + html_text(r.format) + "</a>";
    const std::string& shown = r.path.empty() ? r.name : r.path;  // the name found for a stream
    std::string img = "<img src=\"" + html_text(url_of(r.file)) + "\" alt=\"" + html_text(shown) + "\">";
    if (!flagged || !options.blur_flagged)
        return img;
    return "<label class=\"veil\" title=\"flagged: click to show\"><input type=\"checkbox\">" + img + "</label>";
}

void write_section_table(std::FILE* out, const Table& table, const std::vector<ReportRow>& rows,
                         const std::vector<CaseRow>& cases, const std::vector<size_t>& members,
                         const HtmlOptions& options)
{
    const std::vector<size_t> columns = section_columns(table, members);
    const bool pictures = std::any_of(members.begin(), members.end(), [&](size_t i) { return !rows[i].file.empty(); });
    std::fputs("<table class=\"entries\">\n<thead><tr>", out);
    if (pictures)
        std::fputs("<th data-column=\"thumbnail\">thumbnail</th>", out);
    for (size_t k : columns) {
        const std::string c = html_text(table.columns[k]);
        // Long names may break after an underscore rather than widen the column.
        std::string label;
        for (char ch : c)
            label += ch == '_' ? std::string("_<wbr>") : std::string(1, ch);
        std::fprintf(out, "<th data-column=\"%s\"><a href=\"#sort=%s\">%s</a></th>", c.c_str(), c.c_str(),
                     label.c_str());
    }
    std::fputs("</tr></thead>\n<tbody>\n", out);
    for (size_t i : members) {
        const ReportRow& r = rows[i];
        const bool flagged = !cases[i].hashset.empty();
        std::fprintf(out, "<tr class=\"entry%s\">", flagged ? " flagged" : "");
        if (pictures)
            std::fprintf(out, "<td class=\"thumb\" data-key=\"%s\">%s</td>", html_text(r.file).c_str(),
                         picture_cell(r, flagged, options).c_str());
        for (size_t k : columns) {
            const std::string& column = table.columns[k];
            const std::string& v = table.rows[i][k];
            bool digest = column == "md5" || column == "sha1" || column == "sha256";
            // Sort keys: "-" (no value) sorts as empty text, after the numbers.
            std::fprintf(out, "<td class=\"col-%s%s\"%s>%s</td>", html_text(column).c_str(), digest ? " digest" : "",
                         v == "-" ? " data-key=\"\"" : "", html_text(v).c_str());
        }
        std::fputs("</tr>\n", out);
    }
    std::fputs("</tbody>\n</table>\n", out);
}

} // namespace

void write_html_report(std::FILE* out, const Table& table, const std::vector<ReportRow>& rows,
                       const std::vector<CaseRow>& cases, const std::vector<CaseInput>& caches,
                       const HtmlOptions& options)
{
    const size_t count = std::min({table.rows.size(), rows.size(), cases.size()});
    const std::vector<CacheSection> sections = cache_sections(rows, count, caches);
    // No request may leave the folder: pictures from it, style and script inline.
    std::fprintf(out,
                 "<!DOCTYPE html>\n<html lang=\"en\">\n<head>\n<meta charset=\"utf-8\">\n"
                 "<meta http-equiv=\"Content-Security-Policy\" content=\"default-src 'none'; img-src 'self' file:; "
                 "style-src 'unsafe-inline'; script-src 'unsafe-inline'\">\n"
                 "<title>%s</title>\n<style>\n%s</style>\n</head>\n<body>\n<h1>%s</h1>\n<ul class=\"summary\">\n",
                 html_text(options.title).c_str(), HTML_STYLE, html_text(options.title).c_str());
    for (size_t s = 0; s < sections.size(); ++s)
        std::fprintf(out, "<li>Cache <a href=\"#cache-%zu\">%s</a>: %zu %s</li>\n", s + 1,
                     html_text(sections[s].path).c_str(), sections[s].rows.size(),
                     sections[s].rows.size() == 1 ? "entry" : "entries");
    for (const std::string& line : options.summary)
        std::fprintf(out, "<li>%s</li>\n", html_text(line).c_str());
    std::fputs("</ul>\n<input id=\"filter\" type=\"search\" placeholder=\"Filter rows\" hidden>"
               "<span id=\"shown\"></span>\n",
               out);
    for (size_t s = 0; s < sections.size(); ++s) {
        const CacheSection& section = sections[s];
        std::fprintf(out, "<section class=\"cache\" id=\"cache-%zu\">\n<h2>%s</h2>\n", s + 1,
                     html_text(section.path).c_str());
        write_digests(out, section.rows.size(), section.print);
        if (section.rows.empty())
            std::fputs("<p>No entries to show: the cache holds none, could not be read, or every entry was left "
                       "out as known (manifest.json has the warnings and counts).</p>\n",
                       out);
        else
            write_section_table(out, table, rows, cases, section.rows, options);
        std::fputs("</section>\n", out);
    }
    std::fprintf(out, "<script>\n%s</script>\n</body>\n</html>\n", HTML_SCRIPT);
}

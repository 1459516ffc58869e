#include "app/cli/html_report.h"

#include <cstring>
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
.summary{margin:0 0 .8em;padding:0;list-style:none;color:#333}
table{border-collapse:collapse}
th,td{border:1px solid #ccc;padding:2px 5px;vertical-align:top;text-align:left}
th{background:#eee;position:sticky;top:0}
th a{color:inherit;text-decoration:none}
td.digest,td.col-cache,td.col-header{font:11px monospace;word-break:break-all;max-width:16em}
td.thumb{width:100px;text-align:center}
td.thumb img{max-width:96px;max-height:96px;display:block;margin:auto}
tr.flagged{background:#fdd}
label.veil{display:block;cursor:pointer;overflow:hidden}
label.veil input{display:none}
label.veil img{filter:blur(14px)}
label.veil input:checked+img{filter:none}
#filter{margin:0 0 .6em;width:24em}
)";

// Sorting by a header's column and filtering rows by text. Numbers compare
// as numbers; empty cells go last either way; equal keys keep their order.
const char HTML_SCRIPT[] = R"((function(){
var table=document.getElementById('entries'),body=table.tBodies[0];
var heads=Array.prototype.slice.call(table.tHead.rows[0].cells);
var filter=document.getElementById('filter');
function key(row,i){var c=row.cells[i];return c.hasAttribute('data-key')?c.getAttribute('data-key'):c.textContent;}
function sortBy(name){
  var down=name.charAt(0)==='-';if(down)name=name.slice(1);
  var i=-1;heads.forEach(function(h,k){if(h.getAttribute('data-column')===name)i=k;});
  if(i<0)return;
  var rows=Array.prototype.slice.call(body.rows).map(function(r,n){return [r,key(r,i),n];});
  rows.sort(function(a,b){
    var x=a[1],y=b[1],nx=x!==''&&!isNaN(x),ny=y!==''&&!isNaN(y),d;
    if((x==='')!==(y===''))return x===''?1:-1;
    if(nx&&ny)d=Number(x)-Number(y);else if(nx!==ny)d=nx?-1:1;else d=x<y?-1:x>y?1:0;
    return (down?-d:d)||a[2]-b[2];});
  rows.forEach(function(r){body.appendChild(r[0]);});
  table.setAttribute('data-sorted',(down?'-':'')+name);
}
function filterBy(text){
  text=text.toLowerCase();var shown=0;
  Array.prototype.forEach.call(body.rows,function(r){
    var on=!text||r.textContent.toLowerCase().indexOf(text)>=0;r.hidden=!on;shown+=on;});
  table.setAttribute('data-shown',shown);
}
heads.forEach(function(h){h.addEventListener('click',function(e){
  e.preventDefault();var name=h.getAttribute('data-column');
  sortBy(table.getAttribute('data-sorted')===name?'-'+name:name);});});
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
  Array.prototype.forEach.call(document.images,function(img){
    if(!img.naturalWidth)broken++;
    var r=img.getBoundingClientRect();
    img.setAttribute('data-box',Math.round(r.left)+','+Math.round(r.top)+','+Math.round(r.width)+','+Math.round(r.height));});
  document.body.setAttribute('data-images-broken',broken);
  document.body.setAttribute('data-images',document.images.length);
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

void write_html_report(std::FILE* out, const Table& table, const std::vector<ReportRow>& rows,
                       const std::vector<CaseRow>& cases, const HtmlOptions& options)
{
    // No request may leave the folder: pictures from it, style and script inline.
    std::fprintf(out,
                 "<!DOCTYPE html>\n<html lang=\"en\">\n<head>\n<meta charset=\"utf-8\">\n"
                 "<meta http-equiv=\"Content-Security-Policy\" content=\"default-src 'none'; img-src 'self' file:; "
                 "style-src 'unsafe-inline'; script-src 'unsafe-inline'\">\n"
                 "<title>%s</title>\n<style>\n%s</style>\n</head>\n<body>\n<h1>%s</h1>\n<ul class=\"summary\">\n",
                 html_text(options.title).c_str(), HTML_STYLE, html_text(options.title).c_str());
    for (const std::string& line : options.summary)
        std::fprintf(out, "<li>%s</li>\n", html_text(line).c_str());
    std::fputs("</ul>\n<input id=\"filter\" type=\"search\" placeholder=\"Filter rows\" hidden>\n"
               "<table id=\"entries\">\n<thead><tr><th data-column=\"thumbnail\">thumbnail</th>",
               out);
    for (const std::string& c : table.columns)
        std::fprintf(out, "<th data-column=\"%s\"><a href=\"#sort=%s\">%s</a></th>", html_text(c).c_str(),
                     html_text(c).c_str(), html_text(c).c_str());
    std::fputs("</tr></thead>\n<tbody>\n", out);
    for (size_t i = 0; i < table.rows.size() && i < rows.size(); ++i) {
        const ReportRow& r = rows[i];
        const CaseRow& c = cases[i];
        bool flagged = !c.hashset.empty();
        std::fprintf(out, "<tr class=\"entry%s\">", flagged ? " flagged" : "");
        std::string picture;
        if (!r.file.empty() && browser_shows(r.format, r.file)) {
            std::string img = "<img src=\"" + html_text(url_of(r.file)) + "\" alt=\"" + html_text(r.name) + "\">";
            picture = flagged && options.blur_flagged
                          ? "<label class=\"veil\" title=\"flagged: click to show\"><input type=\"checkbox\">" + img +
                                "</label>"
                          : img;
        } else if (!r.file.empty()) {
            picture = "<a href=\"" + html_text(url_of(r.file)) + "\">" + html_text(r.format) + "</a>";
        }
        std::fprintf(out, "<td class=\"thumb\" data-key=\"%s\">%s</td>", html_text(r.file).c_str(), picture.c_str());
        for (size_t k = 0; k < table.columns.size(); ++k) {
            const std::string& column = table.columns[k];
            const std::string& v = table.rows[i][k];
            bool digest = column == "md5" || column == "sha1" || column == "sha256";
            // Sort keys: "-" (no value) sorts as empty text, after the numbers.
            std::fprintf(out, "<td class=\"col-%s%s\"%s>%s</td>", html_text(column).c_str(), digest ? " digest" : "",
                         v == "-" ? " data-key=\"\"" : "", html_text(v).c_str());
        }
        std::fputs("</tr>\n", out);
    }
    std::fprintf(out, "</tbody>\n</table>\n<script>\n%s</script>\n</body>\n</html>\n", HTML_SCRIPT);
}

#include "pipeline/AutoIndex.h"

#include <cinttypes>
#include <cstdio>

#include "config/HTTPConfiguration.h"
#include "http/Dates.h"
#include "http/Escapes.h"
#include "http/LetterCase.h"
#include "http/TextWidth.h"
#include "platform/File.h"

namespace {

constexpr size_t kNameColumn = 30;

}  // namespace

std::string GenerateEntry(const platform::FindData* entry, uint32_t setting) {
    if (!entry || entry->hidden || platform::IsInBetweenCopy(entry->name)) return {};
    std::string date;
    FileTimeToHTTPTime(&entry->lastWrite, &date);
    // The whole size, so a file of 4 GiB or more is not shown as its
    // remainder; sizes that fit 32 bits look as they always did.
    const uint64_t size = entry->size;
    // The link is %-escaped for the URL and then made safe inside the
    // attribute; the shown name is made safe as text. A folder's link ends
    // in a slash, the form its own listing is served under: no redirect on
    // the way, and a mirroring client saves the listing as the folder's page.
    std::string link = HTMLEscape(EncodePath(entry->name));
    if (entry->directory) link += '/';
    std::string text;
    char number[32];
    if (setting & kAutoIndexTable) {
        std::snprintf(number, sizeof number, "%" PRIu64, size);
        text = "<TR><TD>";
        text += entry->directory ? "[Directory]" : "[File]";
        text += "</TD><TD><A HREF=\"" + link + "\">" + HTMLEscape(entry->name) + "</A></TD><TD>" + date +
                "</TD><TD ALIGN=RIGHT>" + number + "</TD></TR>\n";
        return text;
    }
    // The name column is 30 columns as a reader sees them: a character
    // takes one (an HTML escape too), an East Asian wide one two, so that
    // the dates line up under CJK names; the name is cut between
    // characters, never inside one.
    size_t width = 0;
    const std::string_view name = FitColumns(entry->name, kNameColumn, &width);
    std::string shown = HTMLEscape(name) + "</A>";
    shown.append(kNameColumn - width, ' ');
    std::snprintf(number, sizeof number, "%16" PRIu64, size);
    text = "<A HREF=\"" + link + "\">" + shown + " " + date + " " + number + "\n";
    return text;
}

int AutoIndex::Generate(const std::string& url, const std::string& directory, const std::string& output) {
    const uint32_t setting = config_.AutoIndex;
    if (!(setting & kAutoIndexOn)) return 1;
    const std::string title = HTMLEscape(ToLower(url));
    platform::File out;
    if (!out.Open(output, platform::File::Mode::CreateAlways)) return 0;
    platform::DirectorySearch search(directory);
    platform::FindData entry;
    if (!search.IsOpen() || !search.Next(&entry)) return 0;

    std::string page = "<HTML><HEAD><TITLE>Index of " + title + "</TITLE></HEAD>\n<BODY><H1>Index of " + title +
                       "</H1>\n";
    if (setting & kAutoIndexTable)
        page += "<HR SIZE=5>\n<TABLE BORDER=1 CELLPADDING=3><TR><TH>Type</TH><TH>Name</TH><TH>Date</TH><TH>Size "
                "(bytes)</TH></TR>";
    else
        page += "<PRE>  Name                           Date                         Size\n<HR>\n";
    do {
        page += GenerateEntry(&entry, setting);
        // Written in pieces, so a huge directory never sits whole in memory.
        if (page.size() > 65536) {
            out.WriteAll(page.data(), page.size());
            page.clear();
        }
    } while (search.Next(&entry));
    page += (setting & kAutoIndexTable) ? "</TABLE></BODY></HTML>" : "</PRE></BODY></HTML>";
    out.WriteAll(page.data(), page.size());
    return 1;
}

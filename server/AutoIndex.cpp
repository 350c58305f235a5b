#include "server/AutoIndex.h"

#include <cstdio>

#include "http/Utilities.h"
#include "platform/File.h"
#include "server/HTTPServer.h"

namespace {

constexpr uint32_t kIndexOn = 1;
constexpr uint32_t kTableForm = 2;

}  // namespace

std::string GenerateEntry(const platform::FindData* entry, uint32_t setting) {
    if (!entry || entry->hidden) return {};
    std::string date;
    FileTimeToHTTPTime(&entry->lastWrite, &date);
    const unsigned size = static_cast<unsigned>(entry->size);
    // The link is %-escaped for the URL and then made safe inside the
    // attribute; the shown name is made safe as text.
    const std::string link = HTMLEscape(EncodeEscape(entry->name));
    std::string text;
    char number[32];
    if (setting & kTableForm) {
        std::snprintf(number, sizeof number, "%u", size);
        text = "<TR><TD>";
        text += entry->directory ? "[Directory]" : "[File]";
        text += "</TD><TD><A HREF=\"" + link + "\">" + HTMLEscape(entry->name) + "</A></TD><TD>" + date +
                "</TD><TD ALIGN=RIGHT>" + number + "</TD></TR>\n";
        return text;
    }
    std::string shown = HTMLEscape(entry->name.substr(0, 30)) + "</A>";
    if (shown.size() < 34) shown.append(34 - shown.size(), ' ');
    std::snprintf(number, sizeof number, "%16u", size);
    text = "<A HREF=\"" + link + "\">" + shown + " " + date + " " + number + "\n";
    return text;
}

int AutoIndex::Generate(const std::string& url, const std::string& directory, const std::string& output) {
    const uint32_t setting = server_->Config().AutoIndex;
    if (!(setting & kIndexOn)) return 1;
    const std::string title = HTMLEscape(ToLower(url));
    platform::File out;
    if (!out.Open(output, platform::File::Mode::CreateAlways)) return 0;
    platform::DirectorySearch search(directory);
    platform::FindData entry;
    if (!search.IsOpen() || !search.Next(&entry)) return 0;

    std::string page = "<HTML><HEAD><TITLE>Index of " + title + "</TITLE></HEAD>\n<BODY><H1>Index of " + title +
                       "</H1>\n";
    if (setting & kTableForm)
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
    page += (setting & kTableForm) ? "</TABLE></BODY></HTML>" : "</PRE></BODY></HTML>";
    out.WriteAll(page.data(), page.size());
    return 1;
}

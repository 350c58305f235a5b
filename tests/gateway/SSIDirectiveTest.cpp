// The pure parts of server-side includes: the directive reader over pages
// read in blocks of every size, and the size format.
#include <gtest/gtest.h>

#include "gateway/BlockReader.h"
#include "gateway/SSIEngine.h"

namespace {

// Scans a page as the engine does and describes what the reader found:
// plain text as it is, "{text:...}" and "{comment:...}" for statements
// copied unchanged, "{command name=value;...}" for a directive.
std::string Scan(std::string_view page, size_t blockSize) {
    BlockReader reader(blockSize);
    reader.Assign(page);
    std::string out;
    std::string text;
    for (;;) {
        const bool more = reader.CopyUntil('<', &out);
        if (!more) break;
        if (reader.Peek() != '!') {
            out += '<';
            continue;
        }
        reader.Unget();
        switch (ReadSSIStatement(&reader, &text)) {
            case SSIStatement::Text: out += "{text:" + text + "}"; break;
            case SSIStatement::Comment: out += "{comment:" + text + "}"; break;
            case SSIStatement::Directive: {
                std::string_view body = SSIDirectiveBody(text);
                out += "{" + std::string(TakeSSICommand(&body));
                std::string_view name, value;
                while (TakeSSITag(&body, &name, &value))
                    out += " " + std::string(name) + "=" + std::string(value) + ";";
                out += "}";
                break;
            }
        }
    }
    return out;
}

TEST(SSIDirectiveReader, PagesInBlocksOfEverySize) {
    const struct {
        const char* name;
        std::string page;
        std::string found;
    } cases[] = {
        {"plain text", "a<b>c", "a<b>c"},
        {"document type declaration", "<!DOCTYPE html>", "{text:<!DO}CTYPE html>"},
        {"comment", "<!-- c -->x", "{comment:<!-- c -->}x"},
        {"shortest comment", "<!-->", "{comment:<!-->}"},
        {"comment of dashes", "<!--->", "{comment:<!--->}"},
        {"signs inside a comment", "<!-- a > b -- > c -->", "{comment:<!-- a > b -- > c -->}"},
        {"directive", "<!--#include virtual=\"/f.html\" -->", "{include virtual=/f.html;}"},
        {"spaces around names", "<!--#config  timefmt = \"%H\"  sizefmt=\"abbrev\"-->",
         "{config timefmt=%H; sizefmt=abbrev;}"},
        {"tags without spaces between", "<!--#echo var=\"a\"b=\"c\" -->", "{echo var=a; b=c;}"},
        {"line feed after the command", "<!--#flastmod\nvirtual=\"/a\"-->", "{flastmod virtual=/a;}"},
        {"carriage return after the command", "<!--#fsize\rvirtual=\"/a\"-->", "{fsize virtual=/a;}"},
        {"tab after the command", "<!--#echo\tvar=\"X\" -->", "{echo\tvar=\"X\"}"},
        {"unquoted value", "<!--#echo var=X -->", "{echo var=;}"},
        {"value without its closing quote", "<!--#echo var=\"X -->", "{echo var=X;}"},
        {"text without an equals sign", "<!--#echo junk -->", "{echo junk=;}"},
        {"line break before the end stays", "<!--#include virtual=\"/a\"\n-->", "{include virtual=/a; \n=;}"},
        {"empty directive", "<!--#-->", "{}"},
        {"only spaces", "<!--#   -->", "{}"},
        {"unterminated directive", "<!--#echo var=\"X\"", "{text:<!--#echo var=\"X\"}"},
        {"unterminated comment", "<!-- open -- >", "{text:<!-- open -- >}"},
        {"page ending inside the opening", "x<!-", "x{text:<!-}"},
        {"sign before a comment", "<<!--x-->", "<{comment:<!--x-->}"},
        {"opening inside the first four", "<!<!--x-->", "{text:<!<!}--x-->"},
        {"two directives", "<!--#a--><!--#b x=\"1\"-->", "{a}{b x=1;}"},
    };
    for (const auto& c : cases)
        for (size_t block : {size_t{1}, size_t{2}, size_t{3}, size_t{5}, BlockReader::kBlockSize})
            EXPECT_EQ(Scan(c.page, block), c.found) << c.name << ", blocks of " << block;
}

TEST(SSIDirectiveReader, FileSizeFormat) {
    const struct {
        uint64_t size;
        const char* format;
        const char* text;
    } cases[] = {
        {0, "bytes", "0"},           {2048, "bytes", "2048"},        {2048, "other", "2048"},
        {1024, "abbrev", "1024"},    {1025, "abbrev", "1K"},         {2048, "ABBREV", "2K"},
        {1049599, "abbrev", "1024K"}, {1049600, "abbrev", "1M"},     {5ull << 30, "abbrev", "5120M"},
        {5ull << 30, "bytes", "5368709120"},
    };
    for (const auto& c : cases) EXPECT_EQ(FormatFileSize(c.size, c.format), c.text) << c.size << " " << c.format;
}

}  // namespace

#pragma once
// Server-side includes: expands the directives of a parsed page before it
// is sent. Text outside directives is copied unchanged; each directive
// "<!--#command tag="value" ... -->" is replaced by its output, and a
// directive that fails by the error text. Directive output is never scanned
// again, so an included file's directives stay as they are and nothing
// recurses. No command or script is ever run.

#include <cstdint>
#include <ctime>
#include <optional>
#include <string>
#include <string_view>

#include "gateway/CGIBase.h"

class BlockReader;

// What ReadSSIStatement found.
enum class SSIStatement {
    Text,       // not a complete comment: to be copied as it is
    Comment,    // an ordinary comment, copied as it is
    Directive,  // "<!--#" ... "-->"
};

// Reads one statement from a page positioned at a "<" followed by "!", into
// *text (replacing its content):
//   - up to four characters; anything but "<!--" is Text;
//   - then up to and including the first "-->" (the one that ends "<!-->"
//     counts too); a page that ends first gives Text, up to its end;
//   - a comment that does not begin with "<!--#" is a Comment.
SSIStatement ReadSSIStatement(BlockReader* page, std::string* text);

// The body of a directive: the text between "<!--#" and "-->".
std::string_view SSIDirectiveBody(std::string_view directive);

// Takes the command word from a directive body: blanks (spaces only) leave
// both ends, and the word runs to the first space, CR or LF, which goes too
// (a tab does not separate). *body is left at the tags.
std::string_view TakeSSICommand(std::string_view* body);

// Takes the next tag from *rest: the name up to "=" (spaces trimmed; all of
// the text when there is no "="), then the value between the next two
// double quotes (empty when there is no opening quote; up to the end when
// there is no closing one). False when no text is left.
bool TakeSSITag(std::string_view* rest, std::string_view* name, std::string_view* value);

// An fsize result: plain bytes, or with sizeFormat "abbrev" (any case) and
// more than 1024 bytes, whole kilobytes with "K", or whole megabytes with
// "M" once the kilobytes pass 1024.
std::string FormatFileSize(uint64_t size, std::string_view sizeFormat);

// The URL path a virtual tag's value names: a page links it as any URL, so
// a query is dropped and %-escapes are decoded, as for a request line.
std::string SSIVirtualURL(std::string_view value);

class SSIEngine final : public CGIBase {
public:
    explicit SSIEngine(const RequestContext& context);

    // "Standard SSI".
    std::string CGIGateway_Interface() const override;

    // Expands the page that is the response's body (a file or temporary
    // file, read from its Offset) and makes the result the body, in memory
    // (a temporary page file is deleted then). 1 on success; 0 when there is
    // no request or response, the body is not a file, or the file cannot be
    // opened.
    int Process(HTTPRequest* request, HTTPResponse* response) override;

    // Consumes one statement from a page positioned at a "<" followed by "!"
    // and returns what takes its place: the text itself for anything but a
    // directive; for a directive, the output of its command after its tags
    // were stored (the error text at once for an unknown tag).
    std::string ParseSSIStatement(BlockReader* page);
    // Empties the tags that hold for one directive only.
    void ClearTags();
    // Stores the value of a known tag (name compared without case): errmsg,
    // timefmt and sizefmt hold for the rest of the page; virtual, file, var,
    // cmd and cgi for this directive. 0 for any other name.
    int AssignSSITag(std::string_view name, std::string_view value);
    // Runs the command of the current directive; the error text for an
    // unknown command.
    std::string ExecuteSSI();

    // One per command; each returns its output.
    // include, fsize and flastmod give the error text when virtual names no
    // document (VirtualFile).
    std::string SSI_Include();   // the unparsed file virtual names
    std::string SSI_Config();    // nothing: its tags are stored already
    std::string SSI_Echo();      // the variable named by var, HTML-escaped
    std::string SSI_Fsize();     // the size of the file virtual names (0 when it cannot be read)
    std::string SSI_Flastmod();  // the last-write time of the file virtual names, local time
    std::string SSI_Exec();      // always the error text: nothing is ever run

    // The whole content of a file (a server path), or the error text.
    std::string InsertFile(const std::string& path) const;
    // A time formatted with the time format (C locale, at most 255
    // characters), or the error text when given none.
    std::string InsertDate(const std::tm* time) const;

private:
    // The value of an echo variable, or nothing when it cannot be had.
    using EchoValue = std::optional<std::string> (SSIEngine::*)() const;
    template <std::string (CGIBase::*Getter)() const>
    std::optional<std::string> Echo() const {
        return (this->*Getter)();
    }
    std::optional<std::string> EchoDocumentName() const;
    std::optional<std::string> EchoDocumentURI() const;
    std::optional<std::string> EchoQueryUnescaped() const;
    std::optional<std::string> EchoDateLocal() const;
    std::optional<std::string> EchoDateGMT() const;
    std::optional<std::string> EchoLastModified() const;
    std::optional<std::string> EchoGatewayInterface() const;
    // The current time, local or UTC, formatted.
    std::optional<std::string> DateNow(bool utc) const;
    // DocumentFile of the virtual tag's URL path (SSIVirtualURL); nothing
    // for an empty tag.
    std::optional<std::string> VirtualFile() const;
    // The file a decoded URL path names when it is a document: nothing for a
    // path a request would be refused, a script and a redirection, so no
    // directive reaches outside the roots or reads a script's source.
    std::optional<std::string> DocumentFile(const std::string& url) const;
    // The local last-write time of a file (nothing for no file).
    std::optional<std::string> LastModifiedOf(const std::optional<std::string>& file) const;

    // Page-wide, changed only by tags.
    std::string errmsg_ = "<b>[SSI Processing Error]</b>";
    std::string timefmt_ = "%b %d %Y";
    std::string sizefmt_ = "bytes";
    // Per directive.
    std::string virtual_;
    std::string file_;
    std::string var_;
    std::string cmd_;
    std::string cgi_;
    std::string command_;
};

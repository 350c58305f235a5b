#pragma once
// The Windows CGI engine ("CGI/1.3a (Win)"): describes the request in a
// profile file of sections and keys, decodes the fields of a POST form into
// it, and runs the program with the names of the profile, the request body
// and an output file on its command line. The program gets no standard
// handles and the server's own environment. Its output file is parsed as a
// standard CGI script's (CGIBase).

#include <array>
#include <string>

#include "gateway/CGIBase.h"
#include "platform/Clock.h"

namespace platform {
class ProfileWriter;
}

// True when a form value cannot live in a profile line and goes to a file of
// its own: 255 characters or more, or any byte outside 32 to 126 (control
// characters, DEL, every byte from 128 up).
bool IsExternal(const std::string& value);

// Writes one media range of an Accept header into the profile's "Accept"
// section: the media type is the key, and its parameters (as "q=0.5") or
// "Yes" without any are the value. A range whose type holds "=", or that
// cannot be a key, writes nothing.
void WriteAccepted(platform::ProfileWriter* profile, std::string_view range);

// The "GMT Offset" of a zone, in seconds, positive east of Greenwich, with
// the daylight bias while daylight time is in effect.
long GMTOffsetSeconds(const platform::TimeZoneInfo& zone);

class CGIWINEngine final : public CGIBase {
public:
    static constexpr int kMaxExternal = 256;

    explicit CGIWINEngine(const RequestContext& context);
    // Deletes the external value files.
    ~CGIWINEngine();

    // "CGI/1.3a (Win)".
    std::string CGIGateway_Interface() const override;

    // Runs the program of the request's PhysicalPath in its folder, with the
    // command line: the quoted path (which its log lines quote), the
    // profile file, the content file (the request body, or an empty spare
    // file), the output file (the response's body). File names reach the
    // program in host form. Traces "(CGI-WIN Launch)  WorkPath: ... CmdLine:
    // ...". The response is built from the output; on time-out from what was
    // written so far, after an error-log line. A program that cannot be
    // started gets an error-log line with the system error code and status
    // 500 "WinCGI Launch Error". The profile and the spare file are deleted
    // before returning. Always 1.
    int Process(HTTPRequest* request, HTTPResponse* response) override;

    // Writes the whole profile into the named file, sections in this order:
    // "CGI", "Accept" (one key per media range, WriteAccepted; absent
    // without an Accept header), "System", "Extra Headers", and for a POST
    // the form sections (ProcessForm); then writes the file. Keys naming
    // files hold host paths. Values from the client go in as ValueForScript
    // makes them, so every key is written. 1, or 0 when the profile or a
    // form value's file could not be written whole.
    int MakeCGIFile(const std::string& profileName);

    // Decodes the request body as a URL-encoded form into *profile: each
    // value has its plus signs made blanks and its %-escapes decoded; a
    // value IsExternal rejects goes to a file of its own, named in section
    // "Form External" as "file length", any other value to "Form Literal".
    // The field names are not decoded; a field whose name holds a control
    // character, or cannot be a profile key, is dropped with an error-log
    // line. Past 256 external values, the value is dropped with an
    // error-log line. 0 when a value's file cannot be written whole (with an
    // error-log line; the fields after it are not read); otherwise 1, also
    // when there is no body to read (nothing is written then).
    int ProcessForm(platform::ProfileWriter* profile);

private:
    std::array<std::string, kMaxExternal> externalFiles_;
    int externalCount_ = 0;
};

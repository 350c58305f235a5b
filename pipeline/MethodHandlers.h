#pragma once
// The five method handlers. Each produces the answer for a request that has
// passed every check of the pipeline: the request already carries its
// ResourceKind and its PhysicalPath (backslashes, default index applied),
// and for PUT and DELETE the master key has been verified. Each serves the
// request and response of the context it is given. All return 1.

class HTTPConfiguration;
class HTTPResponse;
struct RequestContext;

// Whether the server expands the server-side includes of response before
// sending it: the setup processes them and the body is typed as a parsed
// page.
bool IsParsedPage(const HTTPConfiguration& config, const HTTPResponse& response);

// A document becomes the body (or 304 when unchanged since If-Modified-Since,
// compared to the second, as Last-Modified shows it); a script runs through
// its gateway. Sets Last-Modified, Content-Type and Content-Length. A plain
// document asked for one byte range (Range, If-Range) answers 206 "Partial
// Content" with that part and Content-Range, or 416 when the range starts
// past its end (see ByteRange.h).
int MethodGet(RequestContext& c);
// As GET: the pipeline drops the body after post-processing, so the headers
// (Content-Length too) are those of the GET.
int MethodHead(RequestContext& c);
// Runs a script; anything else is 500 "Bad POST".
int MethodPost(RequestContext& c);
// Copies the request body to PhysicalPath: 201 for a new file, 200
// "Document written" over an existing one, 409 "PUT Conflict Error" when
// neither copy works.
int MethodPut(RequestContext& c);
// Deletes the file at PhysicalPath: 200 "Resource deleted", or 409 "DELETE
// Conflict Error" with an error-log line when it cannot be removed.
int MethodDelete(RequestContext& c);

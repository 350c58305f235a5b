#!/bin/sh
# A sample standard CGI script. The server hands it the request in CGI
# variables (and no others, not even PATH), the request body on standard
# input, and sends what it prints: header lines, an empty line, the page.
PATH=/usr/bin:/bin

# Values come from the client: escape them before they go into the page.
html() {
    printf '%s' "$1" | sed -e 's/&/\&amp;/g' -e 's/</\&lt;/g' -e 's/>/\&gt;/g' -e 's/"/\&quot;/g'
}

row() {
    printf '<tr><th align="left">%s</th><td>%s</td></tr>\n' "$1" "$(html "$2")"
}

printf 'Content-Type: text/html\r\n\r\n'
cat <<'HEAD'
<!DOCTYPE html>
<html>
<head><title>Hello from a CGI script</title></head>
<body>
<h1>Hello from a CGI script</h1>
<table>
HEAD
row SERVER_SOFTWARE "$SERVER_SOFTWARE"
row GATEWAY_INTERFACE "$GATEWAY_INTERFACE"
row REQUEST_METHOD "$REQUEST_METHOD"
row SCRIPT_NAME "$SCRIPT_NAME"
row PATH_INFO "$PATH_INFO"
row QUERY_STRING "$QUERY_STRING"
row REMOTE_ADDR "$REMOTE_ADDR"
row HTTP_USER_AGENT "$HTTP_USER_AGENT"
row Arguments "$*"
# The links name the script by its whole path: relative to a page that has
# extra path, they would grow it at every click (and a crawler would follow
# them to its depth limit).
self=$(html "$SCRIPT_NAME")
cat <<TAIL
</table>
<p>Try <a href="$self/some/path?one+two">extra path and arguments</a>
or <a href="$self?name=value">a query with a value</a>.</p>
<p><a href="/">Back to the welcome page</a></p>
</body>
</html>
TAIL

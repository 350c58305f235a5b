#!/bin/sh
# A sample Windows CGI program. The server describes the request in a
# profile file of [Section] and Key=Value lines (argument 1), passes the
# request body (argument 2) and sends what the program writes to the output
# file (argument 3): header lines, an empty line, the page. Form fields of a
# POST arrive decoded in the section "Form Literal", or, when a value is long
# or holds bytes outside printable ASCII (any accented letter), in "Form
# External" as the path of a file holding the value and its length.
profile=$1
output=$3

# The value of a key in a section of the profile.
value() {
    awk -v section="[$1]" -v key="$2" '
        /^\[/ { inside = ($0 == section); next }
        inside && index($0, key "=") == 1 { print substr($0, length(key) + 2); exit }
    ' "$profile"
}

# The lines of a section as "Key=Value".
section() {
    awk -v section="[$1]" '/^\[/ { inside = ($0 == section); next } inside && NF' "$profile"
}

# "Key=Value" for each field of "Form External", the value read from its file.
external() {
    section "Form External" | while IFS= read -r line; do
        entry=${line#*=}
        printf '%s=%s\n' "${line%%=*}" "$(head -c "${entry##* }" "${entry% *}")"
    done
}

html() {
    sed -e 's/&/\&amp;/g' -e 's/</\&lt;/g' -e 's/>/\&gt;/g' -e 's/"/\&quot;/g'
}

row() {
    printf '<tr><th align="left">%s</th><td>%s</td></tr>\n' "$1" "$(printf '%s' "$2" | html)"
}

{
    printf 'Content-Type: text/html; charset=UTF-8\r\n\r\n'
    cat <<'HEAD'
<!DOCTYPE html>
<html>
<head><meta charset="utf-8"><title>Hello from a Windows CGI program</title></head>
<body>
<h1>Hello from a Windows CGI program</h1>
<table>
HEAD
    for key in "CGI Version" "Request Method" "Executable Path" "Query String" "Remote Address" "User Agent"; do
        row "$key" "$(value CGI "$key")"
    done
    row "GMT Offset" "$(value System "GMT Offset")"
    echo '</table>'
    echo '<h2>Form fields</h2>'
    echo '<pre>'
    section "Form Literal" | html
    external | html
    echo '</pre>'
    cat <<'TAIL'
<form method="post" action="/CGI-WIN/hello.sh">
<p>Name: <input name="name"> <input type="submit" value="Send"></p>
</form>
<p><a href="/">Back to the welcome page</a></p>
</body>
</html>
TAIL
} > "$output"

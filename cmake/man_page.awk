# A program's --help text as the sections of its manual page: the usage
# line is the synopsis, the text up to the first "name:" line the
# description (filled, paragraphs at blank lines), and each "name:" line
# starts a section whose lines are kept as they are.
function escape(s) {
    gsub(/\\/, "\\e", s)
    gsub(/-/, "\\-", s)
    if (s ~ /^[.']/) s = "\\&" s
    return s
}

NR == 1 && /^usage: / {
    print ".SH SYNOPSIS"
    print ".nf"
    print escape(substr($0, 8))
    print ".fi"
    print ".SH DESCRIPTION"
    next
}

/^[a-z][a-z ]*:$/ {
    if (kept) print ".fi"
    print ".SH " toupper(substr($0, 1, length($0) - 1))
    print ".nf"
    kept = 1
    next
}

/^$/ {
    if (!kept) print ".PP"
    else print ""
    next
}

{ print escape($0) }

END { if (kept) print ".fi" }

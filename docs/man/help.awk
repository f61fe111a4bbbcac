# Turns a program's own --help into the scdoc of its manual page, so that the
# page's synopsis and options are the program's and never drift from it.
#   -v section=synopsis|options
# Input: for lbxctl, each command's help after a line "@command NAME"; for a
# program without commands (lbxsim), its --help after "@command" alone.
# An option that every command describes alike is listed once, under "Shared
# options"; one whose text differs (--retries) under each command.

function escaped(text) {
    gsub(/\\/, "\\\\", text)
    gsub(/\*/, "\\*", text)
    gsub(/_/, "\\_", text)
    return text
}

# "[--plugin NAME]" as "[*--plugin* _NAME_]": options bold, values underlined.
function marked(words,    n, i, w, out, pre, post) {
    n = split(words, w, " ")
    out = ""
    for (i = 1; i <= n; i++) {
        pre = ""; post = ""
        if (match(w[i], /^[[(]+/)) { pre = substr(w[i], 1, RLENGTH); w[i] = substr(w[i], RLENGTH + 1) }
        if (match(w[i], /(\.\.\.)?[])]*,?$/)) { post = substr(w[i], RSTART); w[i] = substr(w[i], 1, RSTART - 1) }
        gsub(/[<>]/, "", w[i])
        if (w[i] ~ /^-/) w[i] = "*" escaped(w[i]) "*"
        else if (w[i] ~ /^[A-Z][A-Z0-9=_]*(\.[a-z]+)?$/) w[i] = "_" escaped(w[i]) "_"
        else if (w[i] != "|" && w[i] != "") w[i] = escaped(w[i])
        out = out (i > 1 ? " " : "") pre w[i] post
    }
    return out
}

function entry(kind, line,    at) {
    at = match(substr(line, 3), /  +/)
    names[command, kind, ++count[command, kind]] = at ? substr(line, 3, at - 1) : substr(line, 3)
    text[command, kind, count[command, kind]] = at ? substr(line, 3 + at - 1 + RLENGTH) : ""
    last = command SUBSEP kind SUBSEP count[command, kind]
}

/^@command/ { command = $2; commands[++ncommands] = command; part = "usage"; next }
part == "usage" && /^Usage: / { usage[command] = substr($0, 8); next }
part == "usage" && /^       / && usage[command] != "" && !summary { usage[command] = usage[command] " " substr($0, 8); next }
part == "usage" && /^Options:$/ { part = "own"; next }
part == "usage" && /^[^ ]/ { summary = 1; next }
/^Options shared with other commands:$/ { part = "shared"; next }
(part == "own" || part == "shared") && /^  [^ ]/ { entry(part, $0); next }
(part == "own" || part == "shared") && /^   / && last != "" {
    sub(/^ +/, "")
    text[last] = (text[last] == "" ? "" : text[last] " ") $0
    next
}
/^$/ { last = ""; summary = 0 }

END {
    for (c = 1; c <= ncommands; c++) {
        cmd = commands[c]
        for (i = 1; i <= count[cmd, "shared"]; i++) {
            key = names[cmd, "shared", i]
            if (!(key in sharedText)) { sharedText[key] = text[cmd, "shared", i]; order[++nshared] = key }
            else if (sharedText[key] != text[cmd, "shared", i]) differs[key] = 1
            holders[key]++
        }
    }
    if (section == "synopsis") {
        for (c = 1; c <= ncommands; c++) {
            u = usage[commands[c]]
            sub(/ \[OPTION\.\.\.\]$/, "", u)
            split(u, head, " ")
            rest = substr(u, length(head[1]) + 1 + (commands[c] != "" ? length(commands[c]) + 1 : 0))
            sub(/^ /, "", rest)
            line = sprintf("*%s%s* %s", head[1], commands[c] != "" ? " " commands[c] : "", marked(rest))
            sub(/ $/, "", line)
            print line "\n"
        }
        exit
    }
    for (c = 1; c <= ncommands; c++) {
        cmd = commands[c]
        if (cmd != "") printf "## %s\n\n", cmd
        for (i = 1; i <= count[cmd, "own"]; i++)
            printf "%s\n\t%s\n\n", marked(names[cmd, "own", i]), escaped(text[cmd, "own", i])
        for (i = 1; i <= count[cmd, "shared"]; i++) {
            key = names[cmd, "shared", i]
            if (differs[key] || holders[key] < 2)
                printf "%s\n\t%s\n\n", marked(key), escaped(text[cmd, "shared", i])
        }
    }
    if (ncommands > 1)
        printf "## Shared options\n\nThose of more than one command; *lbxctl help* _COMMAND_ lists which.\n\n"
    for (i = 1; i <= nshared; i++)
        if (!differs[order[i]] && holders[order[i]] > 1)
            printf "%s\n\t%s\n\n", marked(order[i]), escaped(sharedText[order[i]])
}

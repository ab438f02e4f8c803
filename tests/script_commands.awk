# The commands a shell script calls, one a line, from the script as `bash --pretty-print` gives
# it (comments gone, one command a line). Quoted text is dropped, except what runs inside
# "$(...)"; words in a command's place are printed: the first word of each command after
# assignments, and the command behind a wrapper (exec, nice, timeout ...). Heredocs are skipped,
# except those written to a file ending in .sh, which are shell themselves. A heuristic: what
# it misses it misses quietly, but whatever it prints is a word the shell would run.

function wrapper(w) {
    return w == "exec" || w == "nice" || w == "nohup" || w == "setsid" || w == "command" ||
           w == "time" || w == "timeout" || w == "xvfb-run" || w == "env" || w == "xargs" ||
           w == "sudo"
}
function keyword(w) {
    return w ~ /^(if|then|else|elif|fi|do|done|while|until|case|esac|in|function|!|\[\[|\]\]|select|coproc)$/
}

# Prints the command words of one segment (text between separators, quotes already dropped).
function commands_of(segment,    n, words, i, w, wrapped) {
    n = split(segment, words, /[ \t]+/)
    wrapped = 0
    for (i = 1; i <= n; i++) {
        w = words[i]
        if (w == "") continue
        if (w ~ /^[A-Za-z_][A-Za-z0-9_]*(\[[^]]*\])?\+?=/) continue  # an assignment before it
        if (w ~ /^[0-9]*[<>]/) { i++; continue }                      # a redirection and its file
        if (w == "for" || w == "[[" || w == "local" || w == "export" || w == "declare" ||
            w == "readonly" || w == "return" || w == "exit" || w == "shift" || w == "trap" ||
            w == "[" || w == "test" || w == "echo" || w == "printf" || w == "set" || w == "read" ||
            w == "unset" || w == "wait" || w == "kill" || w == "cd" || w == "source" || w == ".")
            return  # a builtin whose arguments are not commands
        if (keyword(w)) continue
        if (wrapped && (w ~ /^-/ || w ~ /^[0-9.]+[smhd]?$/ || w == "Q")) continue
        if (w ~ /^(Q|V)/ || w ~ /^\$/ || w ~ /\// || w ~ /^[0-9]+$/ || w == "-") return  # a path or a variable
        print w
        if (!wrapper(w)) return
        wrapped = 1
    }
}

# Splits code (quotes dropped) into segments at the shell's separators.
function emit(code,    n, parts, i) {
    gsub(/\{[A-Za-z_]+\}[<>]/, " > ", code)       # exec {fd}> file
    gsub(/[0-9]*[<>]&[0-9-]*/, " ", code)        # 2>&1: no separator
    n = split(code, parts, /(\|\||&&|[|;&(){}`]|\$\()/)
    for (i = 1; i <= n; i++) commands_of(parts[i])
}

BEGIN { heredoc = ""; in_case = 0; sp = 0 }

{
    line = $0
    if (heredoc != "") {
        if (line ~ ("^[ \t]*" heredoc "$")) { heredoc = ""; shell_heredoc = 0; next }
        if (!shell_heredoc) next
    }
    # A heredoc starts: its body follows on the next lines.
    if (match(line, /<<-?[ \t]*'?"?[A-Za-z_]+'?"?/)) {
        tag = substr(line, RSTART, RLENGTH)
        gsub(/[<\-'" \t]/, "", tag)
        heredoc = tag
        shell_heredoc = (line ~ /\.sh"?[ \t]*<</)
    }
    if (line ~ /^[ \t]*case[ \t]/) in_case++
    if (line ~ /^[ \t]*esac/) { in_case--; next }
    if (in_case > 0 && line ~ /^[ \t]*;;/) next

    # Drop quoted text, keeping what runs inside "$(...)": a stack of contexts, "D" a double-
    # quoted string, a number the open parentheses of a $( ... ) (within quotes or not).
    code = ""
    for (i = 1; i <= length(line); i++) {
        c = substr(line, i, 1)
        top = sp > 0 ? stack[sp] : ""
        if (in_sq) { if (c == "'") in_sq = 0; continue }
        if (c == "\\") { i++; continue }
        # ${...}, arithmetic ((...)) and $((...)), an array's (...): words, not commands.
        # A comment (in a heredoc's shell; the pretty printer drops the others).
        if (c == "#" && top != "D" && (i == 1 || substr(line, i - 1, 1) ~ /[ \t]/)) break
        # A test [[ ... ]]: its words are not commands.
        if (top != "D" && substr(line, i, 2) == "[[") {
            at = index(substr(line, i), "]]")
            if (at > 0) { i += at; code = code " V "; continue }
        }
        if (substr(line, i, 2) == "${" || substr(line, i, 2) == "((" ||
            substr(line, i, 3) == "$((" || substr(line, i, 2) == "=(") {
            i0 = i
            open_c = substr(line, i + 1, 1) == "{" ? "{" : "("
            close_c = open_c == "{" ? "}" : ")"
            for (depth = 0; i <= length(line); i++) {
                d = substr(line, i, 1)
                if (d == open_c) depth++
                if (d == close_c && --depth == 0) break
            }
            if (top != "D") code = code (open_c == "(" && substr(line, i0, 2) == "=(" ? "=V" : "V")
            continue
        }
        if (substr(line, i, 2) == "$(") { stack[++sp] = 1; code = code " ; "; i++; continue }
        if (top == "D") {
            if (c == "\"") { sp--; code = code " Q " }
            continue
        }
        if (c == "'") { in_sq = 1; continue }
        if (c == "\"") { stack[++sp] = "D"; continue }
        if (top != "" && c == "(") stack[sp]++
        if (top != "" && c == ")") {
            if (--stack[sp] == 0) { sp--; code = code " ; "; continue }
        }
        code = code c
    }
    # A pattern of a case: "pattern)" alone on its line.
    if (in_case > 0 && code ~ /^[ \t]*[^()]*\)[ \t]*$/) next
    emit(code)
}

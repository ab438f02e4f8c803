#!/bin/sh
# Writes the jetutil(1) manual page to standard output, built from the program's own help:
# the verb list of 'jetutil --help' and each verb's 'jetutil VERB --help'. A verb added to
# jetutil appears here with no change to this file.
#   jetutil-man.sh JETUTIL VERSION [OUTPUT]
set -eu
jetutil=$1
version=$2
if [ $# -ge 3 ]; then exec >"$3"; fi

# Troff-safe text: backslashes and dashes escaped, a leading dot or quote neutralised.
roff() {
  sed -e 's/\\/\\e/g' -e 's/-/\\-/g' -e "s/^\([.']\)/\\\\\&\1/"
}

verbs=$("$jetutil" --help | awk -F '\t' '/^  [a-z]/ { sub(/^  /, "", $1); print $1 }')
[ -n "$verbs" ] || { echo "jetutil-man.sh: no verbs in '$jetutil --help'" >&2; exit 1; }

cat <<HEAD
.TH JETUTIL 1 "" "compactador $version" "User Commands"
.SH NAME
jetutil \\- inspect, verify and change Microsoft Jet (.mdb) databases
.SH SYNOPSIS
.B jetutil
.I VERB
.RI [ ARGS ...]
.br
.B jetutil
.I VERB
.B \\-\\-help
.br
.B jetutil \\-\\-help
.SH DESCRIPTION
.B jetutil
is a command-line tool over the Jet 3 (Access 97, 2048-byte pages) and Jet 4
(Access 2000\\(en2003, 4096-byte pages) database engine that the
.B compactador
program brings with it.
It reads real
.I .mdb
files written by Access, verifies every structure of a file, exports rows, updates a
flag column in place, lists the users of a lock file
.RI ( .ldb ),
and writes the sample and client databases used by the program's demo and tests.
Access 2007 and later files (ACE,
.IR .accdb )
are not supported.
.PP
Each verb is described below exactly as
.B jetutil
.I VERB
.B \\-\\-help
prints it.
Options common to several verbs:
.TP
.BI \\-\\-password " PW"
the database password, for files that have one.
.TP
.BR \\-\\-help ", " \\-h
print the verb's help and exit with status 0.
.SH VERBS
HEAD

for verb in $verbs; do
  summary=$("$jetutil" --help | awk -F '\t' -v v="$verb" '$1 == "  " v { print $2 }')
  printf '.SS %s\n' "$(printf '%s' "$verb" | roff)"
  printf '%s\n' "$summary" | roff
  printf '.PP\n.nf\n'
  "$jetutil" "$verb" --help | roff
  printf '.fi\n'
done

cat <<TAIL
.SH EXIT STATUS
0 on success; 2 when the arguments are wrong, the file cannot be opened or the engine
reports an error (the Jet error number and its text are printed on standard error).
Verbs that judge a file use 1 for a finding, as their help says.
.SH ENVIRONMENT
None. Files are named on the command line.
.SH EXAMPLES
.nf
jetutil info banco.mdb
jetutil check \\-\\-max 20 banco.mdb
jetutil export \\-\\-json banco.mdb Clientes > clientes.jsonl
jetutil users banco.ldb \\-\\-live
jetutil exec tavo.mdb "UPDATE tavo SET bloqueado = 0"
.fi
.SH SEE ALSO
.BR compactador (1),
.BR mdb\\-tables (1),
.BR mdb\\-export (1),
.BR mdb\\-schema (1)
TAIL

// Splits one line of a configuration list ("RelayAccount.list",
// "RelaySmtp.conf") into blank-separated tokens, in place.
#pragma once

// Walks the line from its start. A blank or a tab becomes a NUL and makes the
// next other character start a token; a carriage return or line feed becomes
// a NUL and ends the walk, as does the end of the text. Once max tokens are
// stored, the walk stops at the next character that is neither blank nor line
// end and leaves the rest unchanged: the last token that fits then runs on to
// the end of the line (unless it is one character followed by a blank).
// tokens must have room for max pointers. -1 when count or tokens is null,
// else 0 with the number of tokens in *count (0 for an empty or null line).
int SplitConfLine(char* line, int* count, char** tokens, int max);

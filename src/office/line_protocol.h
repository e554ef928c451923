#pragma once
// The line protocol between the program (spreadsheet_app.cpp) and the office
// helper (tools/office-helper); plain C++ so that both link this one copy.
// One request per line, fields separated by TAB; in a field, backslash, TAB,
// LF and CR are written \\, \t, \n and \r. One reply line per request: "ok"
// with result fields, "error" with a message, or "unavailable" with a
// message when there is no office to drive. While "start" runs, a line
// "office" with the office's process group comes before the reply.

#include <string>
#include <vector>

std::string EscapeField(const std::string& field);
// Splits a line into its unescaped fields. An unknown escape keeps the
// character after the backslash; a lone trailing backslash is dropped.
std::vector<std::string> SplitFields(const std::string& line);
std::string JoinFields(const std::vector<std::string>& fields);

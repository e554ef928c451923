#pragma once
// UI handlers run their bodies through RunHandler: an error escaping the body
// ends the handler and is shown in the standard error box, so no user input
// can crash the program.

#include <QString>

#include <exception>
#include <functional>

// The text the standard error box shows for an error: the error's own text
// (what() as UTF-8 for errors that are not AppError), with a full stop added
// when the code of its last character is above '.' - letters, digits, '/',
// ':' and the like, but not '.', '!', ')' or ',' - so the box reads as a
// sentence however the error's text ends.
QString StandardErrorText(const std::exception& e);

// Shows the standard error box (error kind, one OK button).
void ShowStandardError(const std::exception& e);

// Runs body; AppError, EComError and any other std::exception end it and are
// shown with ShowStandardError (anything else thrown: a generic error box).
// Returns false when the body was ended so.
bool RunHandler(const std::function<void()>& body);

// The message of the day's file bytes turned into the memo's text (Qt Core only, no windows).
#pragma once

#include <string>

#include <QString>

// The message file's bytes as UTF-16LE text, up to the end or the first zero character.
QString messageFromBytes(const std::string& bytes);

// The memo's lines: CR LF, CR and LF each end a line, and a break at the very end adds none.
QString asMemoLines(QString text);

// The one line shown instead of a document's text, in words from one table.
#pragma once

#include <string>

#include "convert/readers.h"

enum class NoticeKind {
    needs,         // NAME needs PROGRAM (Debian package PACKAGE)
    no_text,       // no text in NAME (TYPE)
    no_text_layer, // NAME has no text layer
    drm,           // NAME is protected by DRM: its text cannot be shown
    encrypted,     // NAME is encrypted
    unreadable,    // NAME could not be read (TYPE): REASON
    cut_short,     // NAME could not be read past PLACE (TYPE): REASON, after what was read
};

// The notice's line: `name` is the file's, `what` the TYPE or PROGRAM the
// kind names, `detail` the Debian package a program comes in, or the
// reason a file could not be read; `place` the part read last ("chapter 3").
std::string notice_text(NoticeKind kind, const std::string &name, const char *what = "", const char *detail = "",
                        const std::string &place = "");
// Why a document was read no further: a tree or a stream of its markup
// would cost far more than its text.
extern const char *const too_much_markup;
// Sets the document's notice, a reader's last word on a file.
ReadResult notice(Document &doc, NoticeKind kind, const std::string &name, const char *what = "",
                  const char *detail = "");

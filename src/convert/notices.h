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
};

// The notice's line: `name` is the file's, `what` the TYPE or PROGRAM the
// kind names, `detail` the Debian package a program comes in, or the
// reason a file could not be read.
std::string notice_text(NoticeKind kind, const std::string &name, const char *what = "", const char *detail = "");
// Sets the document's notice, a reader's last word on a file.
ReadResult notice(Document &doc, NoticeKind kind, const std::string &name, const char *what = "",
                  const char *detail = "");

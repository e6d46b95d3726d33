// List styles by name, for the reader tests' one-line descriptions of blocks.
#pragma once

#include "convert/document.h"

inline const char *style_name(ListStyle style)
{
    switch (style) {
    case ListStyle::bullet: return "bullet";
    case ListStyle::dash: return "dash";
    case ListStyle::decimal: return "decimal";
    case ListStyle::lower_alpha: return "lower_alpha";
    case ListStyle::upper_alpha: return "upper_alpha";
    case ListStyle::lower_roman: return "lower_roman";
    case ListStyle::upper_roman: return "upper_roman";
    }
    return "?";
}

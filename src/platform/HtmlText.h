// HTML to visible text: the stand-in for asking a web browser control for the text of a page.
//
// The HTML is parsed by libxml2's forgiving HTML parser (broken markup is repaired the way that
// parser repairs it; entities and character references are decoded; a charset named inside the
// document is ignored, since the text is already decoded). Our own walker then yields the text
// of the document's body in document order, close to what a browser shows (content that stands
// after "</body>" or "</html>" counts as body content, as in a browser; a frameset document
// has no text):
//  * Not rendered: <head> and everything in it, script, style, template, noscript, iframe,
//    object, embed, canvas, svg, select, datalist, comments, elements with the "hidden"
//    attribute or an inline style "display:none".
//  * White space (blank, tab, CR, LF, form feed) runs collapse to one blank; blanks at the start
//    and the end of a line disappear. Inside <pre>, <textarea>, <listing> and <xmp> the text is
//    kept as written, except for a line break right after the start tag.
//  * Block elements (div, p, headings, lists, tables, blockquote, section, ...) start and end on
//    a line of their own; paragraphs and headings are set apart by an empty line. <br> breaks
//    the line; <hr> stands on a line of its own. List items stand one per line, without bullets.
//    Table rows stand one per line, the cells of a row separated by a tab.
//  * Lines are separated by CR LF. Non-breaking spaces stay U+00A0. No line break is written at
//    the start or the end of the result.
#pragma once

#include <string_view>

#include "Text.h"

namespace platform {

// The visible text of the HTML; empty when the text yields no document (for example an empty
// text). Raises Exception for a text longer than 1 GiB in UTF-8 and when memory runs out.
UnicodeString HtmlToVisibleText(std::u16string_view html);

}  // namespace platform

#include "HtmlText.h"

#include <libxml/HTMLparser.h>
#include <libxml/parser.h>
#include <libxml/tree.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <mutex>
#include <string>

#include "CodePage.h"
#include "Exceptions.h"

namespace platform {

namespace {

constexpr size_t kMaxHtmlBytes = size_t(1) << 30;

bool NameIs(const xmlNode* node, const char* name) {
  return node->name != nullptr && std::strcmp(reinterpret_cast<const char*>(node->name), name) == 0;
}

bool NameIn(const xmlNode* node, std::initializer_list<const char*> names) {
  for (const char* n : names)
    if (NameIs(node, n)) return true;
  return false;
}

// Elements that a browser does not render as text.
bool IsNotRendered(const xmlNode* node) {
  return NameIn(node, {"head", "title", "meta", "link", "base", "script", "style", "template", "noscript",
                       "noframes", "iframe", "object", "embed", "param", "applet", "canvas", "svg", "math",
                       "audio", "video", "source", "track", "map", "area", "select", "datalist", "option",
                       "input"});
}

// The "hidden" attribute, or an inline style that says display:none.
bool IsHiddenByAttribute(xmlNode* node) {
  if (xmlHasProp(node, reinterpret_cast<const xmlChar*>("hidden")) != nullptr) return true;
  xmlChar* style = xmlGetProp(node, reinterpret_cast<const xmlChar*>("style"));
  if (style == nullptr) return false;
  std::string compact;
  for (const xmlChar* p = style; *p != 0; ++p) {
    const char c = static_cast<char>(*p);
    if (c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\f') continue;
    compact.push_back(c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c);
  }
  xmlFree(style);
  // Look at each declaration on its own so "xdisplay:none" or "display:none-ish" do not count.
  size_t start = 0;
  while (start <= compact.size()) {
    size_t end = compact.find(';', start);
    if (end == std::string::npos) end = compact.size();
    std::string decl = compact.substr(start, end - start);
    const size_t bang = decl.find('!');
    if (bang != std::string::npos) decl.resize(bang);
    if (decl == "display:none") return true;
    start = end + 1;
  }
  return false;
}

// Line breaks that a block element asks for around itself: 2 sets it apart by an empty line.
int BlockBreaks(const xmlNode* node) {
  if (NameIn(node, {"p", "h1", "h2", "h3", "h4", "h5", "h6"})) return 2;
  if (NameIn(node, {"html", "body", "address", "article", "aside", "blockquote", "center", "details", "dialog",
                    "dir", "div", "dl", "dd", "dt", "fieldset", "figcaption", "figure", "footer", "form", "header",
                    "hgroup", "legend", "li", "listing", "main", "menu", "nav", "ol", "pre", "section", "summary",
                    "table", "caption", "thead", "tbody", "tfoot", "tr", "ul", "xmp", "plaintext", "hr",
                    "frameset", "optgroup"}))
    return 1;
  return 0;
}

bool IsPreformatted(const xmlNode* node) { return NameIn(node, {"pre", "textarea", "listing", "xmp", "plaintext"}); }

bool IsCell(const xmlNode* node) { return node->type == XML_ELEMENT_NODE && NameIn(node, {"td", "th"}); }

bool IsCollapsibleSpace(char16_t c) { return c == u' ' || c == u'\t' || c == u'\r' || c == u'\n' || c == u'\f'; }

// Collects the visible text: blanks are written lazily (only before a following character on
// the same line), line breaks that blocks ask for are merged, forced breaks (<br>, newlines in
// preformatted text) are written as they come.
class TextSink {
 public:
  void RequestBreaks(int count) {
    pendingBreaks_ = std::max(pendingBreaks_, count);
    pendingSpace_ = false;
  }

  void ForcedBreak() {
    Flush();
    out_ += u"\r\n";
    lineStart_ = true;
    pendingSpace_ = false;
  }

  void Tab() {
    Flush();
    out_.push_back(u'\t');
    lineStart_ = true;
    pendingSpace_ = false;
  }

  void Text(std::u16string_view text, bool preformatted) {
    for (size_t i = 0; i < text.size(); ++i) {
      const char16_t c = text[i];
      if (preformatted) {
        if (c == u'\r' || c == u'\n') {
          if (c == u'\r' && i + 1 < text.size() && text[i + 1] == u'\n') ++i;
          ForcedBreak();
        } else {
          Char(c);
        }
      } else if (IsCollapsibleSpace(c)) {
        pendingSpace_ = true;
      } else {
        Char(c);
      }
    }
  }

  UnicodeString Result() {
    // No line break at the start or the end.
    size_t begin = 0;
    while (begin + 1 < out_.size() && out_[begin] == u'\r' && out_[begin + 1] == u'\n') begin += 2;
    size_t end = out_.size();
    while (end >= begin + 2 && out_[end - 2] == u'\r' && out_[end - 1] == u'\n') end -= 2;
    return out_.substr(begin, end - begin);
  }

 private:
  void Char(char16_t c) {
    Flush();
    if (pendingSpace_ && !lineStart_) out_.push_back(u' ');
    pendingSpace_ = false;
    out_.push_back(c);
    lineStart_ = false;
  }

  // Writes the line breaks that blocks asked for, counting those already at the end.
  void Flush() {
    if (pendingBreaks_ == 0) return;
    if (!out_.empty()) {
      int have = 0;
      for (size_t e = out_.size(); have < pendingBreaks_ && e >= 2 && out_[e - 2] == u'\r' && out_[e - 1] == u'\n';
           e -= 2)
        ++have;
      for (int k = have; k < pendingBreaks_; ++k) out_ += u"\r\n";
      lineStart_ = true;
      pendingSpace_ = false;
    }
    pendingBreaks_ = 0;
  }

  UnicodeString out_;
  int pendingBreaks_ = 0;
  bool pendingSpace_ = false;
  bool lineStart_ = true;
};

class Walker {
 public:
  explicit Walker(TextSink& sink) : sink_(sink) {}

  // Visits the tree below root without recursion (documents may nest deeply).
  void Walk(xmlNode* root) {
    xmlNode* node = root;
    for (;;) {
      const bool visible = Enter(node);
      if (visible && node->type == XML_ELEMENT_NODE && node->children != nullptr) {
        node = node->children;
        continue;
      }
      if (visible) Leave(node);
      for (;;) {
        if (node == root) return;
        if (node->next != nullptr) {
          node = node->next;
          break;
        }
        node = node->parent;
        Leave(node);
      }
    }
  }

 private:
  bool Enter(xmlNode* node) {
    switch (node->type) {
      case XML_TEXT_NODE:
      case XML_CDATA_SECTION_NODE: {
        if (node->content == nullptr) return true;
        const UnicodeString wide = Utf8ToWide(reinterpret_cast<const char*>(node->content));
        std::u16string_view text = wide;
        // A newline right after the start tag of <textarea> or <listing> is not part of the
        // text (libxml2 drops it itself only after <pre>).
        if (dropNewline_ && node->prev == nullptr) {
          if (text.substr(0, 2) == u"\r\n") text.remove_prefix(2);
          else if (!text.empty() && (text[0] == u'\n' || text[0] == u'\r')) text.remove_prefix(1);
        }
        dropNewline_ = false;
        sink_.Text(text, preDepth_ > 0);
        return true;
      }
      case XML_ELEMENT_NODE:
        break;
      default:
        return false;  // comments, processing instructions, ...
    }
    dropNewline_ = false;
    if (IsNotRendered(node) || IsHiddenByAttribute(node)) return false;
    if (NameIs(node, "br")) {
      sink_.ForcedBreak();
      return true;
    }
    if (const int breaks = BlockBreaks(node)) sink_.RequestBreaks(breaks);
    if (IsCell(node)) {
      for (xmlNode* prev = node->prev; prev != nullptr; prev = prev->prev) {
        if (IsCell(prev)) {
          sink_.Tab();
          break;
        }
      }
    }
    if (IsPreformatted(node)) ++preDepth_;
    dropNewline_ = NameIn(node, {"textarea", "listing"});
    return true;
  }

  void Leave(xmlNode* node) {
    if (node->type != XML_ELEMENT_NODE) return;
    if (const int breaks = BlockBreaks(node)) sink_.RequestBreaks(breaks);
    if (IsPreformatted(node) && preDepth_ > 0) --preDepth_;
  }

  TextSink& sink_;
  int preDepth_ = 0;
  bool dropNewline_ = false;
};

struct DocFree {
  void operator()(xmlDoc* doc) const { xmlFreeDoc(doc); }
};

}  // namespace

UnicodeString HtmlToVisibleText(std::u16string_view html) {
  static std::once_flag initOnce;
  std::call_once(initOnce, [] { xmlInitParser(); });

  // A NUL would end the parser's input early; it is no visible character anyway, so it goes. A
  // leading byte-order mark marks the encoding, not text: left in, it would stand as a text node
  // of its own before the first block.
  if (!html.empty() && html.front() == u'\uFEFF') html.remove_prefix(1);
  UnicodeString cleaned(html);
  cleaned.erase(std::remove(cleaned.begin(), cleaned.end(), u'\0'), cleaned.end());
  // The parser is handed an open <body> first. Without it, libxml2 wraps text that stands before
  // any element into an implied <p>, which would set that text apart by an empty line. The
  // document's own <html>, <head> and <body> tags are then misplaced and dropped by the parser,
  // their attributes merged; what they hold still lands in the body (head-only elements are
  // not rendered).
  const Utf8String utf8 = "<html><body>" + WideToUtf8(cleaned);
  if (utf8.size() > kMaxHtmlBytes) throw Exception(u"HTML text too long");

  const int options = HTML_PARSE_RECOVER | HTML_PARSE_NOERROR | HTML_PARSE_NOWARNING | HTML_PARSE_NONET |
                      HTML_PARSE_IGNORE_ENC | XML_PARSE_HUGE;
  std::unique_ptr<xmlDoc, DocFree> doc(
      htmlReadMemory(utf8.data(), static_cast<int>(utf8.size()), nullptr, "UTF-8", options));
  if (!doc) return UnicodeString();
  // The whole tree below the root is walked, not only <body>: libxml2 keeps content that
  // follows "</body></html>" in a second element under the root, where a browser shows it as
  // part of the body. <head> and its like are not rendered anyway.
  xmlNode* root = xmlDocGetRootElement(doc.get());
  if (root == nullptr) return UnicodeString();

  TextSink sink;
  Walker(sink).Walk(root);
  return sink.Result();
}

}  // namespace platform

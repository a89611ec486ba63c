#include "MiniXml.h"

#include "FileText.h"
#include "MeshFile.h"

#include <algorithm>
#include <cstring>

namespace vela::io::detail {

namespace {

constexpr size_t kMaxDepth = 64;

bool IsNameChar(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_' ||
         c == '-' || c == '.' || c == ':';
}

bool IsSpace(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }

class XmlParser {
public:
  explicit XmlParser(const std::string& text) : m_text(text) {}

  XmlElement Parse() {
    XmlElement document;  // holds the root as its only child
    std::vector<XmlElement*> open{&document};
    while (m_pos < m_text.size()) {
      if (m_text[m_pos] != '<') {
        CharacterData(*open.back(), open.size() == 1);
      } else if (StartsWith("<?")) {
        SkipPast("?>");
      } else if (StartsWith("<!--")) {
        SkipPast("-->");
      } else if (StartsWith("<![CDATA[")) {
        if (open.size() == 1) Fail("character data outside the root element");
        Advance(9);
        const size_t end = Find("]]>");
        Append(*open.back(), m_text.substr(m_pos, end - m_pos));
        AdvanceTo(end + 3);
      } else if (StartsWith("<!")) {
        SkipPast(">");
      } else if (StartsWith("</")) {
        Advance(2);
        const std::string name = Name();
        SkipSpace();
        ExpectChar('>');
        if (open.size() == 1 || open.back()->name != name)
          Fail("end tag </" + name + "> does not close " +
               (open.size() == 1 ? std::string("any element") : "<" + open.back()->name + ">"));
        open.pop_back();
      } else {
        if (open.size() == 1 && !document.children.empty()) Fail("a second root element");
        if (open.size() > kMaxDepth) Fail("elements nested too deeply");
        XmlElement& parent = *open.back();
        parent.children.emplace_back();
        XmlElement& element = parent.children.back();
        if (StartTag(element)) open.push_back(&element);
      }
    }
    if (open.size() > 1) Fail("<" + open.back()->name + "> is never closed");
    if (document.children.empty()) Fail("no root element");
    return std::move(document.children.front());
  }

private:
  // Reads "<name attr="value" ...>" or ".../>"; true when the element stays open.
  bool StartTag(XmlElement& element) {
    Advance(1);
    element.line = m_line;
    element.name = Name();
    while (true) {
      SkipSpace();
      if (StartsWith("/>")) {
        Advance(2);
        return false;
      }
      if (StartsWith(">")) {
        Advance(1);
        element.textLine = m_line;
        return true;
      }
      std::string key = Name();
      SkipSpace();
      ExpectChar('=');
      SkipSpace();
      if (m_pos >= m_text.size() || (m_text[m_pos] != '"' && m_text[m_pos] != '\''))
        Fail("attribute " + key + " has no quoted value");
      const char quote = m_text[m_pos];
      Advance(1);
      const size_t end = m_text.find(quote, m_pos);
      if (end == std::string::npos) Fail("attribute " + key + " is never closed");
      std::string value = Decode(m_text.substr(m_pos, end - m_pos));
      AdvanceTo(end + 1);
      element.attributes.emplace_back(std::move(key), std::move(value));
    }
  }

  void CharacterData(XmlElement& element, bool outsideRoot) {
    const size_t end = std::min(m_text.find('<', m_pos), m_text.size());
    const std::string raw = m_text.substr(m_pos, end - m_pos);
    if (outsideRoot) {
      for (char c : raw)
        if (!IsSpace(c)) Fail("text outside the root element");
    } else {
      if (element.text.empty()) element.textLine = m_line;
      Append(element, Decode(raw));
    }
    AdvanceTo(end);
  }

  static void Append(XmlElement& element, const std::string& text) { element.text += text; }

  std::string Decode(const std::string& raw) const {
    static const std::pair<const char*, char> kEntities[] = {
        {"&lt;", '<'}, {"&gt;", '>'}, {"&amp;", '&'}, {"&quot;", '"'}, {"&apos;", '\''}};
    std::string out;
    out.reserve(raw.size());
    for (size_t i = 0; i < raw.size();) {
      if (raw[i] != '&') {
        out += raw[i++];
        continue;
      }
      bool known = false;
      for (const auto& entity : kEntities) {
        const size_t length = std::strlen(entity.first);
        if (raw.compare(i, length, entity.first) == 0) {
          out += entity.second;
          i += length;
          known = true;
          break;
        }
      }
      if (!known) Fail("unsupported entity " + Quote(raw.substr(i, raw.find(';', i) - i + 1)));
    }
    return out;
  }

  std::string Name() {
    const size_t start = m_pos;
    while (m_pos < m_text.size() && IsNameChar(m_text[m_pos])) ++m_pos;
    if (m_pos == start)
      Fail(m_pos < m_text.size() ? "expected a name, got " + Quote(m_text.substr(m_pos, 1))
                                 : "expected a name, got the end of the file");
    return m_text.substr(start, m_pos - start);
  }

  bool StartsWith(const char* prefix) const {
    return m_text.compare(m_pos, std::strlen(prefix), prefix) == 0;
  }

  size_t Find(const char* terminator) const {
    const size_t end = m_text.find(terminator, m_pos);
    if (end == std::string::npos) Fail(std::string("'") + terminator + "' never comes");
    return end;
  }

  void SkipPast(const char* terminator) { AdvanceTo(Find(terminator) + std::strlen(terminator)); }

  void SkipSpace() {
    while (m_pos < m_text.size() && IsSpace(m_text[m_pos])) Advance(1);
  }

  void ExpectChar(char c) {
    if (m_pos >= m_text.size() || m_text[m_pos] != c) Fail(std::string("expected '") + c + "'");
    Advance(1);
  }

  void Advance(size_t count) { AdvanceTo(m_pos + count); }

  void AdvanceTo(size_t end) {
    for (; m_pos < end && m_pos < m_text.size(); ++m_pos)
      if (m_text[m_pos] == '\n') ++m_line;
  }

  [[noreturn]] void Fail(const std::string& problem) const {
    throw MeshFileError("XML line " + std::to_string(m_line) + ": " + problem);
  }

  const std::string& m_text;
  size_t m_pos = 0;
  int m_line = 1;
};

}  // namespace

const std::string* XmlElement::Attribute(const std::string& key) const {
  for (const auto& attribute : attributes)
    if (attribute.first == key) return &attribute.second;
  return nullptr;
}

const XmlElement* XmlElement::Child(const std::string& childName) const {
  for (const XmlElement& child : children)
    if (child.name == childName) return &child;
  return nullptr;
}

XmlElement ParseXml(const std::string& text) { return XmlParser(text).Parse(); }

}  // namespace vela::io::detail

#include "tools/standins/provider/object_path.h"

#include <cwctype>

namespace {

bool IsNameChar(wchar_t c) {
  return std::iswalnum(c) || c == L'_';
}

}  // namespace

bool SimNameEquals(const std::wstring& a, const std::wstring& b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (std::towlower(a[i]) != std::towlower(b[i])) return false;
  }
  return true;
}

bool SimParseObjectPath(const std::wstring& text, SimObjectPath& path) {
  path = SimObjectPath{};
  size_t pos = 0;
  // A namespace prefix ends at the first colon outside the quoted value.
  size_t quote = text.find(L'"');
  size_t colon = text.find(L':');
  if (colon != std::wstring::npos && (quote == std::wstring::npos || colon < quote)) pos = colon + 1;

  size_t start = pos;
  while (pos < text.size() && IsNameChar(text[pos])) ++pos;
  if (pos == start) return false;
  path.className = text.substr(start, pos - start);
  if (pos == text.size()) return true;

  if (text[pos++] != L'.') return false;
  start = pos;
  while (pos < text.size() && IsNameChar(text[pos])) ++pos;
  if (pos == start || pos >= text.size() || text[pos] != L'=') return false;
  path.keyName = text.substr(start, pos - start);
  ++pos;
  if (pos >= text.size() || text[pos] != L'"') return false;
  ++pos;

  std::wstring value;
  while (pos < text.size() && text[pos] != L'"') {
    wchar_t c = text[pos++];
    if (c == L'\\') {
      if (pos >= text.size()) return false;
      wchar_t next = text[pos++];
      if (next != L'\\' && next != L'"') return false;
      c = next;
    }
    value.push_back(c);
  }
  if (pos >= text.size()) return false;  // no closing quote
  ++pos;
  if (pos != text.size()) return false;  // trailing text
  path.keyValue = value;
  path.hasKey = true;
  return true;
}

// WMI object paths as the simulated provider accepts them:
//   [namespace:]Class[.Key="quoted value"]
// Inside the quotes a backslash escapes the next character, which must be a
// backslash or a double quote, as in real WMI paths; anything else is refused.
#pragma once

#include <string>

struct SimObjectPath {
  std::wstring className;
  std::wstring keyName;   // empty for a class path
  std::wstring keyValue;  // unescaped
  bool hasKey = false;
};

// False when `text` is not a well-formed path of the form above.
bool SimParseObjectPath(const std::wstring& text, SimObjectPath& path);

// Case-insensitive comparison of WMI names (classes, properties, methods, namespaces).
bool SimNameEquals(const std::wstring& a, const std::wstring& b);

// Command-line texts and the arguments a Windows program's C runtime splits
// them into; the real launch of both builds is held to this table.
#pragma once

#include <string>
#include <vector>

struct ArgumentCase {
  std::u16string Parameters;
  std::vector<std::u16string> Arguments;
};

inline const std::vector<ArgumentCase>& ArgumentCases() {
  static const std::vector<ArgumentCase> cases = {
      {u"/r:NVKM", {u"/r:NVKM"}},
      {u"", {}},
      {u"   ", {}},
      {u"  x \t y  ", {u"x", u"y"}},
      {u"/S \"/D=C:\\Program Files\\X\"", {u"/S", u"/D=C:\\Program Files\\X"}},
      {u"\"a b\" c", {u"a b", u"c"}},
      {u"\"\"", {u""}},
      {u"a \"\" b", {u"a", u"", u"b"}},
      {u"a\\\"b", {u"a\"b"}},
      {u"a\\\\\"b c\"", {u"a\\b c"}},
      {u"a\\\\\\\"b", {u"a\\\"b"}},
      {u"a\\\\b", {u"a\\\\b"}},
      {u"C:\\dir\\ next", {u"C:\\dir\\", u"next"}},
      {u"\"C:\\dir\\\\\" next", {u"C:\\dir\\", u"next"}},
      {u"\"C:\\dir\\\" next", {u"C:\\dir\" next"}},
      // Inside quotes a doubled quote is one quote, and the text stays quoted.
      {u"\"a\"\"b c\"", {u"a\"b c"}},
      {u"\"\"\"a\"\"\"", {u"\"a\""}},
      {u"x \"\"\" y", {u"x", u"\" y"}},
      {u"x \"\"\"\" y", {u"x", u"\"", u"y"}},
      {u"x \"\"\"\"\" y", {u"x", u"\"\" y"}},
      {u"a\"\"b", {u"ab"}},
      {u"a\"b\"\" c d\" e", {u"ab\" c d", u"e"}},
      {u"\"\" \"\"", {u"", u""}},
      {u"\"a\\\"\"\" b\"", {u"a\"\" b"}},
      {u"x\"y z\"w", {u"xy zw"}},
      {u"\"open", {u"open"}},
      {u"caf\u00e9 \u0436", {u"caf\u00e9", u"\u0436"}},
  };
  return cases;
}
